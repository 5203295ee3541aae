#include "protocol/reply_encoding.h"

#include <charconv>

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
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDFFF) {
      if (c >= 0xDC00 || i + 1 >= text.size()) return false;
      const uint32_t low = text[i + 1];
      if (low < 0xDC00 || low > 0xDFFF) return false;
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      ++i;
    }
    if (c < 0x80) {
      out.push_back(char(c));
    } else if (c < 0x800) {
      out.push_back(char(0xC0 | (c >> 6)));
      out.push_back(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(char(0xE0 | (c >> 12)));
      out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(char(0x80 | (c & 0x3F)));
    } else {
      out.push_back(char(0xF0 | (c >> 18)));
      out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(char(0x80 | (c & 0x3F)));
    }
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
