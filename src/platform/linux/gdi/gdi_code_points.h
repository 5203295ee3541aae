#pragma once
// Walking UTF-16 runs by code point, as the GDI-style backend maps them to glyphs.

#include <string_view>

#include "base/utf16.h"

namespace kfp::linux_backend {

// Calls visit(codePoint, codeUnits) for each code point of text in order. A surrogate pair is one
// code point of two units; a lone surrogate is passed on as itself (it maps to no glyph).
template <typename Visit>
void forEachCodePoint(std::u16string_view text, Visit&& visit) {
  for (size_t i = 0; i < text.size();) {
    size_t length = 0;
    const char32_t codePoint = codePointAt(text, i, &length);
    if (!visit(codePoint, int(length))) return;
    i += length;
  }
}

}  // namespace kfp::linux_backend
