#pragma once
// The order in which the family form of matching prefers one font of a family to another for a
// requested stretch, style and weight: stretch first (narrower before wider when normal or
// narrower is asked for), then style (italic and oblique stand in for each other before upright
// does), then weight (from 400 to 500 upwards first, below 400 lighter first, above 500 heavier
// first). A smaller key is a better font. Backends that rank fonts themselves and the core's
// choice among matched fonts both follow it.

#include <algorithm>
#include <cstdlib>

#include "platform/font_types.h"

namespace kfp {

// Width in percent of normal for stretch 1..9.
inline double widthPercent(int stretch) {
  constexpr double kWidthPercent[] = {50, 62.5, 75, 87.5, 100, 112.5, 125, 150, 200};
  return kWidthPercent[std::clamp(stretch, 1, 9) - 1];
}

inline int stretchKey(int candidate, int desired) {
  if (candidate == desired) return 0;
  const bool preferNarrower = desired <= kNormalStretch;
  const bool narrower = candidate < desired;
  const int distance = std::abs(candidate - desired);
  return narrower == preferNarrower ? distance : 100 + distance;
}

inline int styleKey(int candidate, int desired) {
  if (candidate == desired) return 0;
  if (desired == kStyleNormal) return candidate == kStyleOblique ? 1 : 2;
  return candidate == kStyleNormal ? 2 : 1;
}

inline int weightKey(int candidate, int desired) {
  if (candidate == desired) return 0;
  const int distance = std::abs(candidate - desired);
  if (desired >= 400 && desired <= 500) {
    if (candidate > desired && candidate <= 500) return distance;
    if (candidate < desired) return 1000 + distance;
    return 2000 + distance;
  }
  const bool preferLighter = desired < 400;
  const bool lighter = candidate < desired;
  return lighter == preferLighter ? distance : 1000 + distance;
}

// The value a font of this weight, stretch and style stands for on the wght, wdth or ital axis,
// with the axis span that makes distances on the three comparable; false for any other axis.
inline bool styleAxisValue(int weight, int stretch, int style, uint32_t tag, double* value,
                           double* span) {
  if (tag == kWghtTag) {
    *value = weight;
    *span = 800;
  } else if (tag == kWdthTag) {
    *value = widthPercent(stretch);
    *span = 150;
  } else if (tag == kItalTag) {
    *value = style == kStyleItalic ? 1 : 0;
    *span = 1;
  } else {
    return false;
  }
  return true;
}

}  // namespace kfp
