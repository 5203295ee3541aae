#pragma once
// A text format of the Linux backend: one face of a collection at a size, with the simulations
// the requested weight and style call for and the variation-axis values set on it.

#include <hb.h>

#include <memory>
#include <span>
#include <string_view>

#include "platform/linux/files/loaded_face.h"
#include "platform/text_engine.h"

namespace kfp::linux_backend {

class LinuxTextFormat : public TextFormat {
 public:
  // `weight` and `style` are the requested ones; the simulations follow from them, the face and
  // the axis values set on the format.
  LinuxTextFormat(std::shared_ptr<LoadedFace> face, float fontSize, int weight, int style,
                  std::u16string_view localeName);

  bool supportsFontAxisValues() const override { return true; }
  bool setFontAxisValues(std::span<const AxisValue> values) override;
  bool setWordWrapping(WordWrapping wrapping) override;
  bool setTextAlignment(TextAlignment alignment) override;
  bool setParagraphAlignment(ParagraphAlignment alignment) override;

  const std::shared_ptr<LoadedFace>& face() const { return face_; }
  float fontSize() const { return fontSize_; }
  uint32_t simulations() const;
  const AxisValues& axisValues() const { return axisValues_; }
  WordWrapping wordWrapping() const { return wordWrapping_; }
  hb_language_t language() const { return language_; }

 private:
  std::shared_ptr<LoadedFace> face_;
  float fontSize_;
  int weight_;
  int style_;
  bool markedBold_ = false;
  AxisValues axisValues_;
  WordWrapping wordWrapping_ = WordWrapping::kWrap;
  hb_language_t language_;
};

// A face as it is drawn: its weight at the applied axis values, its style, and whether the font
// marks itself bold.
struct FaceStyle {
  int weight = kNormalWeight;
  int style = kStyleNormal;
  bool markedBold = false;
};

// The face's weight at the applied axis values: a weight axis moves it (clamped into the axis
// range), a static face keeps its own.
int drawnWeight(const FontRecord& face, std::span<const AxisValue> applied);

// The simulations for drawing `face` when (weight, style) was asked.
uint32_t simulationsFor(int weight, int style, const FaceStyle& face);

}  // namespace kfp::linux_backend
