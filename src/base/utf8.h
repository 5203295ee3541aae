#pragma once
// UTF-8 to UTF-16 decoding that never fails: each maximal subpart of an ill-formed sequence becomes
// one U+FFFD (the Unicode "best practice" that WHATWG decoders follow). Every input byte yields at
// most one UTF-16 unit, so an output buffer as long as the input always suffices.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kfp {

constexpr char16_t kReplacementCharacter = 0xFFFD;

// Decodes the sequence whose lead byte is at `p` (p < end, *p >= 0x80), appends one or two units
// at `out` and returns the position after the bytes consumed. A byte that breaks a sequence is not
// consumed: it starts the next one.
inline const unsigned char* decodeUtf8NonAscii(const unsigned char* p, const unsigned char* end,
                                               char16_t*& out) noexcept {
  const unsigned lead = *p;
  unsigned need;
  unsigned low = 0x80;
  unsigned high = 0xBF;
  uint32_t codePoint;
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1;
    codePoint = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    codePoint = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    codePoint = lead & 0x07;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
  } else {
    *out++ = kReplacementCharacter;
    return p + 1;
  }
  ++p;
  for (unsigned i = 0; i < need; ++i) {
    if (p == end || *p < low || *p > high) {
      *out++ = kReplacementCharacter;
      return p;
    }
    codePoint = (codePoint << 6) | (*p & 0x3Fu);
    ++p;
    low = 0x80;
    high = 0xBF;
  }
  if (codePoint >= 0x10000) {
    codePoint -= 0x10000;
    *out++ = static_cast<char16_t>(0xD800 + (codePoint >> 10));
    *out++ = static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF));
  } else {
    *out++ = static_cast<char16_t>(codePoint);
  }
  return p;
}

// Converts `utf8` into `out`, which must have room for utf8.size() units; returns the units
// written.
size_t utf8ToUtf16(std::string_view utf8, char16_t* out) noexcept;

std::u16string utf8ToUtf16(std::string_view utf8);

}  // namespace kfp
