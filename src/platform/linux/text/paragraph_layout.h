#pragma once
// Lays a whole text out with one format: paragraphs at hard breaks, each shaped (bidi runs and
// script runs through HarfBuzz), broken into lines at the width, and placed in visual order.

#include <string_view>

#include "platform/linux/text/laid_out_text.h"
#include "platform/linux/text/layout_engine.h"
#include "platform/linux/text/text_format.h"

namespace kfp::linux_backend {

// DIPs per unit of the em HarfBuzz shapes with (its own when the head table's is out of range).
float designUnitScale(hb_font_t* font, float fontSize);

// False when ICU fails; the layout is then incomplete.
bool layOutText(LayoutEngine& engine, std::u16string_view text, const LinuxTextFormat& format,
                float maxWidth, LinuxTextLayout& layout);

}  // namespace kfp::linux_backend
