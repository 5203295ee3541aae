#include "json_text.h"

#include <charconv>
#include <cmath>

#include "protocol/reply_encoding.h"

namespace kfp::client {

// Requests follow the same escaping rules as the renderer's replies.
void appendJsonString(std::string& out, std::string_view utf8) {
  appendQuotedJson(out, utf8);
}

std::string quoteJsonString(std::string_view utf8) {
  std::string out;
  appendJsonString(out, utf8);
  return out;
}

void appendJsonUnsigned(std::string& out, uint64_t value) {
  appendUnsigned(out, value);
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
