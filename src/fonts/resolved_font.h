#pragma once
// The resolved-font cache entry of one font id: the outcome of matching its descriptor against the
// installed fonts, success or failure.

#include <cstdint>
#include <string>

#include "platform/font_set.h"
#include "platform/font_types.h"

namespace kfp {

enum class FontKind : uint32_t { kDirectWrite = 0, kGdi = 1 };

struct ResolvedFont {
  bool computed = false;
  bool found = false;
  std::string error;
  FontKind kind = FontKind::kDirectWrite;
  std::u16string familyName;
  int weight = kNormalWeight;
  int stretch = kNormalStretch;
  int style = kStyleNormal;
  AxisValues axisValues;
  FontCollectionRef fontCollection;
};

}  // namespace kfp
