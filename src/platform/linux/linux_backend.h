#pragma once
// The Linux backend of the platform seam (fontconfig, FreeType, HarfBuzz, ICU).

#include <memory>
#include <string>
#include <vector>

#include "platform/backend.h"

namespace kfp {

std::unique_ptr<Backend> createLinuxBackend();

// What a Linux backend must keep reading once confined: the directories that hold the font files
// it indexed from the fontconfig configuration it loaded, each once, and the indexed files that are
// symbolic links (their targets may lie elsewhere). Empty before its text engine exists, or for
// another backend.
std::vector<std::string> loadedFontPaths(const Backend& backend);

}  // namespace kfp
