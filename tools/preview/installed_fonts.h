#pragma once
// The installed fonts as descriptors, as the renderer itself lists them, with what each covers.

#include <string>
#include <vector>

#include "requests.h"
#include "sample_text.h"

namespace kfp::preview {

struct InstalledFont {
  client::FontDescriptor descriptor;
  FontCoverage coverage;
};

// The renderer's list (kest-font-preview-renderer --list-fonts), one face per distinct descriptor,
// sorted by family and style; ids are "font-N". Coverage comes from fontconfig's character sets
// where it knows the face, and is empty otherwise (the face then shows the caller's text). False
// with `error` set when the renderer cannot list its fonts.
bool listInstalledFonts(const std::string& rendererPath, std::vector<InstalledFont>& fonts,
                        std::string& error);

}  // namespace kfp::preview
