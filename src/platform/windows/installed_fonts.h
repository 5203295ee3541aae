#pragma once
// The system font set as installed-font listings, one per font of the set in its order.

#include <vector>

#include "platform/installed_font.h"

namespace kfp::windows_backend {

// False when DirectWrite or its system font set cannot be had. The caller has entered COM.
bool listSystemFonts(std::vector<InstalledFont>* fonts);

}  // namespace kfp::windows_backend
