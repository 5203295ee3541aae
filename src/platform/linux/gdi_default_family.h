#pragma once
// The families the system prefers for generic sans-serif text, best first.

#include <string>
#include <vector>

namespace kfp::linux_backend {

// fontconfig's substitution list for "sans-serif"; empty when its configuration cannot be read.
std::vector<std::u16string> defaultSansFamilies();

}  // namespace kfp::linux_backend
