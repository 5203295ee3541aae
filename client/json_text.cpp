#include "json_text.h"

#include <charconv>
#include <cmath>

namespace kfp::client {

// The renderer reads any valid JSON escape; these are the short ones where JSON has them and \u00XX
// for the other control characters.
void appendJsonString(std::string& out, std::string_view utf8) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  for (char ch : utf8) {
    const auto b = static_cast<unsigned char>(ch);
    switch (b) {
      case '\b':
        out += "\\b";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\r':
        out += "\\r";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\\':
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

std::string quoteJsonString(std::string_view utf8) {
  std::string out;
  appendJsonString(out, utf8);
  return out;
}

void appendJsonUnsigned(std::string& out, uint64_t value) {
  char buffer[24];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

void appendJsonNumber(std::string& out, double value) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  char buffer[32];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

}  // namespace kfp::client
