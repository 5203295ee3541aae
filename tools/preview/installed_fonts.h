#pragma once
// The installed fonts as descriptors, listed by fontconfig's command-line tool.

#include <string>
#include <vector>

#include "requests.h"

namespace kfp::preview {

// Scalable faces, one descriptor per PostScript name, sorted by family and style; ids are
// "font-N". False with `error` set when fc-list cannot be run.
bool listInstalledFonts(std::vector<client::FontDescriptor>& fonts, std::string& error);

}  // namespace kfp::preview
