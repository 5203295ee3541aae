#pragma once
// JSON string quoting, shared by the renderer's replies and the client's requests.

#include <string>
#include <string_view>

namespace kfp {

// A JSON string literal of the bytes: the short escapes where JSON has them, \u00XX for the other
// control bytes, everything from 0x20 up (UTF-8 sequences included) passed unchanged.
void appendQuotedJson(std::string& out, std::string_view bytes);

}  // namespace kfp
