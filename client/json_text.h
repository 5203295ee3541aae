#pragma once
// Building request JSON text: string literals and numbers as the renderer reads them.

#include <cstdint>
#include <string>
#include <string_view>

namespace kfp::client {

// A JSON string literal of UTF-8 text (kfp::appendQuotedJson): control characters are escaped,
// everything else passes unchanged, so the bytes the caller gave are the bytes the renderer
// decodes.
std::string quoteJsonString(std::string_view utf8);

// The shortest text that reads back as the same double. JSON has no NaN or infinity: those are
// written as null, which the renderer reads as "absent" and replaces by the field's default.
void appendJsonNumber(std::string& out, double value);

}  // namespace kfp::client
