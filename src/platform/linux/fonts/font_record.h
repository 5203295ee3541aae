#pragma once
// One installed face as the font index knows it: where it lives and how it is named and styled.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/font_types.h"

namespace kfp::linux_backend {

struct LocalizedName {
  std::u16string locale;  // "en-us", "de-de", ...; empty when unknown
  std::u16string text;
};

struct AxisRange {
  uint32_t tag = 0;
  float minimum = 0;
  float defaultValue = 0;
  float maximum = 0;
};

struct FontRecord {
  std::string path;
  uint32_t faceIndex = 0;      // index in a collection file
  uint32_t namedInstance = 0;  // 0: the default instance; n: named instance n (1-based)
  bool scalable = true;        // false: fixed-size bitmap strikes only
  bool color = false;          // COLR or CBDT/sbix glyphs

  int weight = kNormalWeight;    // 1..999
  int stretch = kNormalStretch;  // 1..9
  int style = kStyleNormal;      // 0 normal, 1 oblique, 2 italic
  // The style name has the word "Bold": the bold face of a regular/bold/italic family. Some such
  // faces keep weight class 400, and then only this tells them from their regular face.
  bool namedBold = false;

  std::vector<AxisRange> axes;         // empty for a static font
  std::vector<AxisValue> coordinates;  // this instance's design coordinates, one per axis

  std::u16string postScriptName;
  std::vector<LocalizedName> fullNames;
  std::vector<LocalizedName> typographicFamilyNames;  // name ID 16, else 1
  std::vector<LocalizedName> wwsFamilyNames;          // name ID 21, else typographic
  std::vector<LocalizedName> win32FamilyNames;        // name ID 1
};

}  // namespace kfp::linux_backend
