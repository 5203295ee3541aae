#pragma once
// The installed fonts as descriptors, listed by fontconfig's command-line tool.

#include <string>
#include <vector>

#include "requests.h"
#include "sample_text.h"

namespace kfp::preview {

struct InstalledFont {
  client::FontDescriptor descriptor;
  FontCoverage coverage;
};

// Scalable faces, one per PostScript name, sorted by family and style; ids are "font-N". False
// with `error` set when fc-list cannot be run.
bool listInstalledFonts(std::vector<InstalledFont>& fonts, std::string& error);

}  // namespace kfp::preview
