#pragma once
// One parsed font descriptor in the font registry. Its font id is the key it is stored under.

#include <string>

#include "platform/font_types.h"

namespace kfp {

struct RegisteredFont {
  std::u16string familyName;
  std::u16string nativeFamilyName;
  std::u16string fullName;
  std::u16string nativeFullName;
  std::u16string styleName;
  std::u16string nativeStyleName;
  std::u16string postScriptName;
  int weight = kNormalWeight;
  int stretch = kNormalStretch;
  int style = kStyleNormal;
  AxisValues axisValues;  // never empty after parsing: always holds a "wght" entry
};

}  // namespace kfp
