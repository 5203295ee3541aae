#pragma once
// One installed face as the renderer's own font index lists it: the names and axes a host puts in
// a font descriptor to have that face resolved.

#include <cstdint>
#include <string>
#include <vector>

namespace kfp {

struct InstalledFontAxis {
  uint32_t tag = 0;  // packed as in AxisValue
  float minimum = 0;
  float maximum = 0;
  float value = 0;  // this face's coordinate: the named instance's, else the default
};

struct InstalledFont {
  std::u16string familyName;  // English (or the only) name; the native ones are another language's
  std::u16string nativeFamilyName;
  std::u16string fullName;
  std::u16string nativeFullName;
  std::u16string styleName;
  std::u16string nativeStyleName;
  std::u16string postScriptName;
  std::vector<InstalledFontAxis> axes;  // empty for a static face
};

// A style name whose keywords give weight, stretch and style back to the renderer's descriptor
// parsing ("SemiBold Italic"; "Regular" for the normal face). Words are written as one, since
// "Semi Bold" reads as bold.
std::u16string styleNameFor(int weight, int stretch, int style);
// The weight that name stands for: the weight rounded to the nearest named weight.
int styleNameWeight(int weight);

}  // namespace kfp
