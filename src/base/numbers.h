#pragma once
// Conversions of JSON doubles.

#include <cfloat>

namespace kfp {

// The nearest 32-bit float; doubles beyond the float range saturate instead of being converted
// out of range. NaN stays NaN.
inline float toFloat(double value) {
  if (value > double(FLT_MAX)) return FLT_MAX;
  if (value < -double(FLT_MAX)) return -FLT_MAX;
  return static_cast<float>(value);
}

}  // namespace kfp
