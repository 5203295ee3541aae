#include "protocol/json_quote.h"

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

void appendUnsigned(std::string& out, uint64_t value) {
  char buffer[20];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

}  // namespace kfp
