#include "base/utf8.h"

#include <cstring>

namespace kfp {

size_t utf8ToUtf16(std::string_view utf8, char16_t* out) noexcept {
  auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
  const auto* end = p + utf8.size();
  char16_t* const start = out;
  while (p != end) {
    // Eight ASCII bytes at a time: the common case of request text.
    while (end - p >= 8) {
      uint64_t word;
      std::memcpy(&word, p, 8);
      if (word & 0x8080808080808080ull) break;
      for (int i = 0; i < 8; ++i) out[i] = p[i];
      p += 8;
      out += 8;
    }
    if (p == end) break;
    if (*p < 0x80) {
      *out++ = *p++;
    } else {
      p = decodeUtf8NonAscii(p, end, out);
    }
  }
  return static_cast<size_t>(out - start);
}

std::u16string utf8ToUtf16(std::string_view utf8) {
  std::u16string result(utf8.size(), u'\0');
  result.resize(utf8ToUtf16(utf8, result.data()));
  return result;
}

}  // namespace kfp
