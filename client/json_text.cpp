#include "json_text.h"

#include <charconv>
#include <cmath>

#include "protocol/json_quote.h"

namespace kfp::client {

std::string quoteJsonString(std::string_view utf8) {
  std::string out;
  appendQuotedJson(out, utf8);
  return out;
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
