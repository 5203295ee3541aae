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
  LinuxTextFormat(std::shared_ptr<LoadedFace> face, float fontSize, uint32_t simulations,
                  std::u16string_view localeName);

  bool supportsFontAxisValues() const override { return true; }
  bool setFontAxisValues(std::span<const AxisValue> values) override;
  bool setWordWrapping(WordWrapping wrapping) override;
  bool setTextAlignment(TextAlignment alignment) override;
  bool setParagraphAlignment(ParagraphAlignment alignment) override;

  const std::shared_ptr<LoadedFace>& face() const { return face_; }
  float fontSize() const { return fontSize_; }
  uint32_t simulations() const { return simulations_; }
  const AxisValues& axisValues() const { return axisValues_; }
  WordWrapping wordWrapping() const { return wordWrapping_; }
  hb_language_t language() const { return language_; }

 private:
  std::shared_ptr<LoadedFace> face_;
  float fontSize_;
  uint32_t simulations_;
  AxisValues axisValues_;
  WordWrapping wordWrapping_ = WordWrapping::kWrap;
  hb_language_t language_;
};

// The simulations for drawing a face of (faceWeight, faceStyle) when (weight, style) was asked.
uint32_t simulationsFor(int weight, int style, int faceWeight, int faceStyle);

}  // namespace kfp::linux_backend
