#include "protocol/reply_encoding.h"

#include <charconv>

#include "platform/utf16.h"

namespace kfp {

void appendQuotedJson(std::string& out, std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  for (char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    switch (b) {
      case 0x08:
        out += "\\b";
        break;
      case 0x09:
        out += "\\t";
        break;
      case 0x0A:
        out += "\\n";
        break;
      case 0x0C:
        out += "\\f";
        break;
      case 0x0D:
        out += "\\r";
        break;
      case 0x22:
        out += "\\\"";
        break;
      case 0x5C:
        out += "\\\\";
        break;
      default:
        if (b < 0x20) {
          const char escape[] = {'\\', 'u', '0', '0', kHex[b >> 4], kHex[b & 0xF]};
          out.append(escape, sizeof escape);
        } else {
          out.push_back(ch);
        }
    }
  }
  out.push_back('"');
}

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

void appendUnsigned(std::string& out, uint64_t value) {
  char buffer[20];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
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
