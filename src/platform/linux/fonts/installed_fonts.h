#pragma once
// The font index as installed-font listings, one per record in index order, each naming its face
// so that the renderer's lookup finds that face again: a name that would find another face first
// (variable fonts whose roman and italic files give their instances the same PostScript names) is
// left out, so that the lookup goes on to the next name.

#include <memory>
#include <vector>

#include "platform/installed_font.h"
#include "platform/linux/fonts/font_index.h"

namespace kfp::linux_backend {

struct IndexedFont {
  uint32_t recordId = 0;
  InstalledFont font;
};

std::vector<IndexedFont> listIndexedFonts(std::shared_ptr<const FontIndex> index);

// Two records name the same face when a host cannot tell them apart: the same PostScript and full
// name, weight, stretch and style (the same file installed twice, for one).
bool sameFace(const FontRecord& a, const FontRecord& b);

}  // namespace kfp::linux_backend
