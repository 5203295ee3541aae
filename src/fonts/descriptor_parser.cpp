#include "fonts/descriptor_parser.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "base/json.h"
#include "base/numbers.h"

namespace kfp {
namespace {

// The low byte of each of exactly four code units, first character lowest; 0 for another length.
uint32_t tagCode(std::u16string_view tag) {
  if (tag.size() != 4) return 0;
  uint32_t code = 0;
  for (size_t i = 0; i < 4; ++i) code |= uint32_t(tag[i] & 0xFF) << (8 * i);
  return code;
}

// Reads the parallel axis arrays; a malformed element drops that axis only.
void readAxes(const JsonObject& descriptor, RegisteredFont& font) {
  const std::optional<JsonArray> axes = descriptor.findNamedArray(u"designAxesData");
  if (!axes) return;
  const std::optional<JsonArray> values = descriptor.findNamedArray(u"designVector");
  if (!values) return;

  const uint32_t n = std::min(axes->size(), values->size());
  for (uint32_t j = 0; j < n; ++j) {
    const std::optional<JsonObject> axis = axes->findObjectAt(j);
    if (!axis) continue;
    const uint32_t tag = tagCode(axis->getNamedString(u"tag"));
    const std::optional<double> value = values->findNumberAt(j);
    if (!value) continue;
    double v = *value;
    if (tag == 0 || !std::isfinite(v)) continue;

    // A missing bound defaults to the value itself, so a lone bound never clamps.
    const double lo = axis->getNamedNumber(u"min", v);
    const double hi = axis->getNamedNumber(u"max", v);
    if (std::isfinite(lo) && std::isfinite(hi) && lo <= hi) v = std::max(std::min(v, hi), lo);

    font.axisValues.push_back({tag, toFloat(v)});
    if (tag == kWghtTag) font.weight = static_cast<int>(std::max(std::min(v, 999.0), 1.0));
  }
}

}  // namespace

RegisteredFont parseFontDescriptor(const JsonObject& descriptor) {
  RegisteredFont font;
  font.familyName = descriptor.getNamedString(u"familyName");
  font.nativeFamilyName = descriptor.getNamedString(u"nativeFamilyName");
  font.fullName = descriptor.getNamedString(u"fullName");
  font.nativeFullName = descriptor.getNamedString(u"nativeFullName");
  font.styleName = descriptor.getNamedString(u"styleName");
  font.nativeStyleName = descriptor.getNamedString(u"nativeStyleName");
  font.postScriptName = descriptor.getNamedString(u"postScriptName");

  const std::u16string& styleSource =
      font.styleName.empty() ? font.nativeStyleName : font.styleName;
  font.weight = weightFromStyleName(styleSource);
  font.stretch = stretchFromStyleName(styleSource);
  font.style = styleFromStyleName(styleSource);

  readAxes(descriptor, font);

  // Every record carries its weight as a "wght" value, variable font or not.
  const bool hasWeightAxis = std::any_of(font.axisValues.begin(), font.axisValues.end(),
                                         [](const AxisValue& a) { return a.tag == kWghtTag; });
  if (!hasWeightAxis) font.axisValues.push_back({kWghtTag, static_cast<float>(font.weight)});
  return font;
}

}  // namespace kfp
