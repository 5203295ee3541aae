#include "layout/measure_layout.h"

#include <cmath>
#include <memory>

#include "layout/gdi_layout.h"
#include "layout/resolved_font_cache.h"
#include "platform/platform_services.h"
#include "protocol/message_types.h"

namespace kfp {
namespace {

constexpr std::u16string_view kLayoutLocale = u"en-us";

// Written as "inside" tests so that NaN, which compares false with everything, is out of range.
bool inRange(float value, float low, float high) {
  return value >= low && value <= high;
}

bool layoutParametersValid(size_t textLength, float fontSize, float width, float dpiScale) {
  return textLength <= kMaxTextLength && inRange(fontSize, kMinFontSize, kMaxFontSize) &&
         inRange(width, kMinWidth, kMaxWidth) && inRange(dpiScale, kMinDpiScale, kMaxDpiScale);
}

LayoutResult failure(std::string_view code) {
  LayoutResult result;
  result.error = code;
  return result;
}

}  // namespace

float roundLayoutHeight(float height, float dpiScale) {
  // An empty paragraph still occupies one row of pixels; a NaN height from the engine does too.
  const float atLeastOne = height >= 1.0f ? height : 1.0f;
  return heightOfPixels(std::ceil(atLeastOne * dpiScale), dpiScale);
}

float heightOfPixels(float pixels, float dpiScale) {
  float height = pixels / dpiScale;
  while (height > 0 && std::ceil(height * dpiScale) > pixels) height = std::nextafter(height, 0.0f);
  return height;
}

LayoutResult measureLayout(const PlatformServices& platform, const FontRegistry& registry,
                           ResolvedFontCache& fonts, const std::u16string& fontId,
                           const std::u16string& text, float fontSize, float width,
                           float dpiScale) {
  // The font's own error wins over bad parameters, so the lookup comes first.
  const ResolvedFont& entry = fonts.resolveFont(platform, registry, fontId);
  if (!entry.found) return failure(entry.error);
  if (!layoutParametersValid(text.size(), fontSize, width, dpiScale)) {
    return failure(errors::kInvalidLayout);
  }
  if (entry.kind == FontKind::kGdi) {
    return measureGdiLayout(platform.backend().gdi(), entry, text, fontSize, width, dpiScale);
  }
  if (!platform.textEngine()) return failure(errors::kTextFormatFailed);
  TextEngine& engine = *platform.textEngine();

  TextFormatDescription description;
  description.familyName = entry.familyName;
  description.fontCollection = entry.fontCollection;
  description.weight = entry.weight;
  description.style = entry.style;
  description.stretch = entry.stretch;
  description.fontSize = fontSize;  // DIPs: the scale only enters the final rounding
  description.localeName = kLayoutLocale;
  std::unique_ptr<TextFormat> format = engine.createTextFormat(description);
  if (!format) return failure(errors::kTextFormatFailed);

  // Without axis support the font is laid out at its default instance rather than failing.
  if (!entry.axisValues.empty() && format->supportsFontAxisValues() &&
      !format->setFontAxisValues(entry.axisValues)) {
    return failure(errors::kFontAxisFailed);
  }
  // These only tune an already usable format; a refusal leaves the engine defaults.
  (void)format->setWordWrapping(WordWrapping::kEmergencyBreak);
  (void)format->setTextAlignment(TextAlignment::kLeading);
  (void)format->setParagraphAlignment(ParagraphAlignment::kNear);

  std::unique_ptr<TextLayout> layout =
      engine.createTextLayout(text, *format, width, kMaxLayoutHeight);
  if (!layout) return failure(errors::kTextLayoutFailed);
  TextMetrics metrics{};
  if (!layout->getMetrics(&metrics)) return failure(errors::kTextMetricsFailed);

  LayoutResult result;
  result.height = roundLayoutHeight(metrics.height, dpiScale);
  result.lineCount = metrics.lineCount;
  result.resolved = true;
  result.drawing = std::move(layout);
  return result;
}

}  // namespace kfp
