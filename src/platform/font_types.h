#pragma once
// Font description values shared by the registry, the lookup and the text engine.

#include <cstdint>
#include <vector>

namespace kfp {

// One variation-axis value; the tag packs its four characters first character lowest ("wght" is
// 0x74686777).
struct AxisValue {
  uint32_t tag = 0;
  float value = 0;
  bool operator==(const AxisValue&) const = default;
};
using AxisValues = std::vector<AxisValue>;

constexpr uint32_t axisTag(char a, char b, char c, char d) {
  return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 |
         uint32_t(uint8_t(d)) << 24;
}
constexpr uint32_t kWghtTag = axisTag('w', 'g', 'h', 't');
constexpr uint32_t kWdthTag = axisTag('w', 'd', 't', 'h');
constexpr uint32_t kItalTag = axisTag('i', 't', 'a', 'l');

// Weight 1..999 (400 normal, 700 bold); stretch 1..9 (5 normal); style 0 normal, 1 oblique, 2
// italic.
constexpr int kNormalWeight = 400;
constexpr int kNormalStretch = 5;
enum FontStyle : int { kStyleNormal = 0, kStyleOblique = 1, kStyleItalic = 2 };

}  // namespace kfp
