#include "host/reply_encoding.h"

#include <charconv>

#include "base/utf16.h"

namespace kfp {

bool utf16ToUtf8(std::u16string_view text, std::string& out) {
  out.clear();
  out.reserve(text.size() * 3);
  for (size_t i = 0; i < text.size();) {
    size_t length = 0;
    const char32_t c = codePointAt(text, i, &length);
    if (isSurrogate(c)) return false;  // unpaired
    appendUtf8(out, c);
    i += length;
  }
  return true;
}

void appendQuotedUtf16(std::string& out, std::u16string_view text) {
  std::string utf8;
  // A string with an unpaired surrogate has no UTF-8 form; it is sent whole as "" rather than
  // partly converted.
  if (!utf16ToUtf8(text, utf8)) utf8.clear();
  appendQuotedJson(out, utf8);
}

std::string errorJson(std::string_view code) {
  std::string out = "{\"error\":";
  appendQuotedJson(out, code);
  out.push_back('}');
  return out;
}

void appendFloat(std::string& out, float value) {
  // to_chars in general format with precision 6 prints exactly as %g does, and never consults the
  // process locale.
  char buffer[32];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<double>(value),
                              std::chars_format::general, 6);
  out.append(buffer, result.ptr);
}

}  // namespace kfp
