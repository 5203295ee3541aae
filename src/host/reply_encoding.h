#pragma once
// Reply texts are built from fixed pieces and encoded values; never from a JSON object model.

#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/json_quote.h"

namespace kfp {

// The UTF-8 form quoted; a string that is not valid UTF-16 (an unpaired surrogate) becomes "".
void appendQuotedUtf16(std::string& out, std::u16string_view text);

// {"error":"CODE"}
std::string errorJson(std::string_view code);

// The %g rule with precision 6 and the classic locale, whatever the process locale.
void appendFloat(std::string& out, float value);

// Strict UTF-16 to UTF-8; false for an unpaired surrogate.
bool utf16ToUtf8(std::u16string_view text, std::string& out);

}  // namespace kfp
