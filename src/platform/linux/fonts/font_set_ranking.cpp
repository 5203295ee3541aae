#include "platform/linux/fonts/font_set_ranking.h"

#include <cmath>

#include "platform/family_match_order.h"

namespace kfp::linux_backend {
namespace {

constexpr uint32_t kSlntTag = axisTag('s', 'l', 'n', 't');
// The requested weight from which a face named bold is preferred: semibold and heavier.
constexpr int kBoldNameFrom = 600;
// Distances are compared in millionths, so that rounding noise is a tie, not an order.
constexpr double kDistanceSteps = 1e6;

int stretchFromPercent(double percent) {
  int best = 1;
  for (int s = 2; s <= 9; ++s) {
    if (std::abs(widthPercent(s) - percent) < std::abs(widthPercent(best) - percent)) best = s;
  }
  return best;
}

// The record's value for an axis it does not vary: derived from its weight, width and style.
bool staticAxisValue(const FontRecord& record, uint32_t tag, double* value, double* span) {
  return styleAxisValue(record.weight, record.stretch, record.style, tag, value, span);
}

double axisDistance(const FontRecord& record, const AxisValues& requested) {
  double total = 0;
  for (const AxisValue& want : requested) {
    if (!std::isfinite(want.value)) continue;
    auto axis = std::find_if(record.axes.begin(), record.axes.end(),
                             [&](const AxisRange& a) { return a.tag == want.tag; });
    if (axis != record.axes.end()) {
      double span = axis->maximum - axis->minimum;
      if (span <= 0) continue;
      double target = std::clamp<double>(want.value, axis->minimum, axis->maximum);
      double current = axis->defaultValue;
      for (const AxisValue& c : record.coordinates) {
        if (c.tag == want.tag) current = c.value;
      }
      total += std::abs(target - current) / span;
      continue;
    }
    double value = 0;
    double span = 1;
    if (staticAxisValue(record, want.tag, &value, &span)) {
      total += std::abs(want.value - value) / span;
    }
  }
  return total;
}

}  // namespace

bool RankKey::operator<(const RankKey& other) const {
  if (axisDistance != other.axisDistance) return axisDistance < other.axisDistance;
  if (stretch != other.stretch) return stretch < other.stretch;
  if (style != other.style) return style < other.style;
  if (weight != other.weight) return weight < other.weight;
  return namedBold < other.namedBold;
}

RankRequest rankRequestFromAxes(std::span<const AxisValue> axisValues) {
  RankRequest request;
  for (const AxisValue& value : axisValues) {
    auto same = std::find_if(request.axisValues.begin(), request.axisValues.end(),
                             [&](const AxisValue& v) { return v.tag == value.tag; });
    if (same != request.axisValues.end()) {
      same->value = value.value;
    } else {
      request.axisValues.push_back(value);
    }
  }
  for (const AxisValue& value : request.axisValues) {
    if (!std::isfinite(value.value)) continue;
    if (value.tag == kWghtTag) {
      request.weight = std::clamp(int(std::lround(value.value)), 1, 999);
    } else if (value.tag == kWdthTag) {
      request.stretch = stretchFromPercent(value.value);
    } else if (value.tag == kItalTag && value.value >= 0.5f) {
      request.style = kStyleItalic;
    } else if (value.tag == kSlntTag && value.value != 0 && request.style == kStyleNormal) {
      request.style = kStyleOblique;
    }
  }
  return request;
}

RankKey rankKey(const FontRecord& record, const RankRequest& request) {
  RankKey key;
  key.axisDistance =
      std::round(axisDistance(record, request.axisValues) * kDistanceSteps) / kDistanceSteps;
  key.stretch = stretchKey(record.stretch, request.stretch);
  key.style = styleKey(record.style, request.style);
  key.weight = weightKey(record.weight, request.weight);
  key.namedBold = record.namedBold != (request.weight >= kBoldNameFrom) ? 1 : 0;
  return key;
}

}  // namespace kfp::linux_backend
