#pragma once
// Walking UTF-16 runs by code point, as the GDI-style backend maps them to glyphs.

#include <string_view>

namespace kfp::linux_backend {

// Calls visit(codePoint, codeUnits) for each code point of text in order. A surrogate pair is one
// code point of two units; a lone surrogate is passed on as itself (it maps to no glyph).
template <typename Visit>
void forEachCodePoint(std::u16string_view text, Visit&& visit) {
  for (size_t i = 0; i < text.size();) {
    const char16_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      const char32_t codePoint =
          0x10000 + ((char32_t(unit) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      if (!visit(codePoint, 2)) return;
      i += 2;
    } else {
      if (!visit(char32_t(unit), 1)) return;
      ++i;
    }
  }
}

}  // namespace kfp::linux_backend
