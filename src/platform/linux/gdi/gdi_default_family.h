#pragma once
// The families the system prefers for generic sans-serif text, best first.

#include <fontconfig/fontconfig.h>

#include <string>
#include <vector>

namespace kfp::linux_backend {

// The configuration's substitution list for "sans-serif"; empty when substitution fails. May print
// configuration warnings: callers silence standard error.
std::vector<std::u16string> defaultSansFamilies(FcConfig& config);

}  // namespace kfp::linux_backend
