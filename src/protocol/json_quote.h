#pragma once
// JSON text pieces shared by the renderer's replies and the client's requests: quoted strings
// and unsigned numbers.

#include <cstdint>
#include <string>
#include <string_view>

namespace kfp {

// A JSON string literal of the bytes: the short escapes where JSON has them, \u00XX for the other
// control bytes, everything from 0x20 up (UTF-8 sequences included) passed unchanged.
void appendQuotedJson(std::string& out, std::string_view bytes);

// Decimal digits, whatever the process locale.
void appendUnsigned(std::string& out, uint64_t value);

}  // namespace kfp
