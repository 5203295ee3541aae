#include "platform/linux/text/text_format.h"

#include <algorithm>
#include <cmath>

#include "platform/linux/raster/glyph_cache.h"

namespace kfp::linux_backend {
namespace {

// Bold is simulated for a semi-bold or heavier request from a face that is clearly lighter and not
// bold itself; emboldening a bold face again would only smear it.
constexpr int kBoldRequest = 600;
constexpr int kBoldGap = 150;

}  // namespace

int drawnWeight(const FontRecord& face, std::span<const AxisValue> applied) {
  auto axis = std::find_if(face.axes.begin(), face.axes.end(),
                           [](const AxisRange& a) { return a.tag == kWghtTag; });
  if (axis == face.axes.end()) return face.weight;
  // The last value given for an axis is the one the shaper and the rasterizer apply.
  auto value = std::find_if(applied.rbegin(), applied.rend(), [](const AxisValue& v) {
    return v.tag == kWghtTag && std::isfinite(v.value);
  });
  if (value == applied.rend()) return face.weight;
  return int(std::lround(std::clamp(value->value, axis->minimum, axis->maximum)));
}

uint32_t simulationsFor(int weight, int style, const FaceStyle& face) {
  uint32_t simulations = 0;
  if (weight >= kBoldRequest && !face.markedBold && face.weight < kBoldRequest &&
      weight - face.weight >= kBoldGap) {
    simulations |= kSimulateBold;
  }
  if (style != kStyleNormal && face.style == kStyleNormal) simulations |= kSimulateOblique;
  return simulations;
}

LinuxTextFormat::LinuxTextFormat(std::shared_ptr<LoadedFace> face, float fontSize, int weight,
                                 int style, std::u16string_view localeName)
    : face_(std::move(face)), fontSize_(fontSize), weight_(weight), style_(style) {
  // The font's own bold flag (OS/2 fsSelection, else head macStyle, as FreeType reads them) says
  // bold even where its weight class does not.
  markedBold_ = face_->markedBold();
  // BCP 47 tags are ASCII; anything else falls back to the default language.
  char tag[32];
  size_t length = 0;
  for (char16_t c : localeName) {
    if (c > 0x7F || length + 1 >= sizeof tag) {
      length = 0;
      break;
    }
    tag[length++] = static_cast<char>(c);
  }
  language_ = length ? hb_language_from_string(tag, static_cast<int>(length))
                     : hb_language_from_string("en-us", -1);
}

bool LinuxTextFormat::setFontAxisValues(std::span<const AxisValue> values) {
  // A value that is not a number names no position on its axis; it is left out, as if not given,
  // so that the other values still apply.
  axisValues_.clear();
  for (const AxisValue& value : values) {
    if (std::isfinite(value.value)) axisValues_.push_back(value);
  }
  return true;
}

uint32_t LinuxTextFormat::simulations() const {
  const FontRecord& record = face_->record();
  return simulationsFor(weight_, style_,
                        {drawnWeight(record, axisValues_), record.style, markedBold_});
}

bool LinuxTextFormat::setWordWrapping(WordWrapping wrapping) {
  switch (wrapping) {
    case WordWrapping::kWrap:
    case WordWrapping::kNoWrap:
    case WordWrapping::kEmergencyBreak:
      wordWrapping_ = wrapping;
      return true;
  }
  return false;
}

bool LinuxTextFormat::setTextAlignment(TextAlignment alignment) {
  return alignment == TextAlignment::kLeading;
}

bool LinuxTextFormat::setParagraphAlignment(ParagraphAlignment alignment) {
  return alignment == ParagraphAlignment::kNear;
}

}  // namespace kfp::linux_backend
