#pragma once
// The argument text of a command line that arrives as one string (as on Windows): everything after
// the program name, which ends at its closing quote when it starts with one and at the first blank
// or tab otherwise. Quotes inside the program name cannot be escaped.

#include <string_view>

namespace kfp {

// Empty when the command line holds only the program name.
std::u16string_view argumentText(std::u16string_view commandLine);

}  // namespace kfp
