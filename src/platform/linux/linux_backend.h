#pragma once
// The Linux backend of the platform seam (fontconfig, FreeType, HarfBuzz, ICU).

#include <memory>
#include <string>
#include <vector>

#include "platform/backend.h"

namespace kfp {

std::unique_ptr<Backend> createLinuxBackend();

// The directories that hold the font files a Linux backend indexed from the fontconfig
// configuration it loaded, each once; empty before its text engine exists, or for another
// backend. The process entry confines reading to them.
std::vector<std::string> loadedFontDirectories(const Backend& backend);

}  // namespace kfp
