#pragma once
// Seam: the text engine. Text formats (a font chosen by collection, family, weight, style, stretch
// and size), variation-axis values, paragraph layouts that wrap at a width, and their metrics.
// Failures are return values: nullptr or false.

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "platform/font_set.h"
#include "platform/font_types.h"

namespace kfp {

enum class WordWrapping : uint32_t { kWrap = 0, kNoWrap = 1, kEmergencyBreak = 2 };
enum class TextAlignment : uint32_t { kLeading = 0 };
enum class ParagraphAlignment : uint32_t { kNear = 0 };

struct TextFormatDescription {
  std::u16string_view familyName;
  FontCollectionRef fontCollection;
  int weight = kNormalWeight;
  int style = kStyleNormal;
  int stretch = kNormalStretch;
  float fontSize = 0;  // DIPs
  std::u16string_view localeName;
};

class TextFormat {
 public:
  virtual ~TextFormat() = default;
  // Whether variation-axis values can be set on this format (the optional capability).
  virtual bool supportsFontAxisValues() const = 0;
  // Applies the values in their order; false on failure.
  virtual bool setFontAxisValues(std::span<const AxisValue> values) = 0;
  // Each false when the value is not supported; the format keeps its previous setting.
  virtual bool setWordWrapping(WordWrapping wrapping) = 0;
  virtual bool setTextAlignment(TextAlignment alignment) = 0;
  virtual bool setParagraphAlignment(ParagraphAlignment alignment) = 0;
};

struct TextMetrics {
  float height = 0;  // DIPs, the sum of the line heights
  uint32_t lineCount = 0;
};

// A laid-out paragraph. Drawing it is the graphics seam's job.
class TextLayout {
 public:
  virtual ~TextLayout() = default;
  virtual bool getMetrics(TextMetrics* metrics) const = 0;
};

class TextEngine {
 public:
  virtual ~TextEngine() = default;
  // The installed fonts; nullptr when they cannot be enumerated.
  virtual FontSetRef getSystemFontSet() = 0;
  // A collection of exactly the fonts of the set; nullptr on failure.
  virtual FontCollectionRef createFontCollection(const FontSet& fonts) = 0;
  virtual std::unique_ptr<TextFormat> createTextFormat(
      const TextFormatDescription& description) = 0;
  // Lays out the whole text with the format, wrapping at maxWidth DIPs.
  virtual std::unique_ptr<TextLayout> createTextLayout(std::u16string_view text,
                                                       const TextFormat& format, float maxWidth,
                                                       float maxHeight) = 0;
};

}  // namespace kfp
