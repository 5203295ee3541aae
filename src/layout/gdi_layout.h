#pragma once
// The GDI-style path: fonts selected by face name at a pixel size, broken into lines by our own
// line breaker. Measuring and drawing share createGdiFont and breakGdiLines so that the lines
// drawn are the lines measured.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fonts/gdi_font.h"
#include "layout/layout_result.h"
#include "platform/gdi.h"

namespace kfp {

struct GdiLine {
  uint64_t start = 0;
  uint64_t length = 0;
  bool operator==(const GdiLine&) const = default;
};

struct GdiLines {
  std::vector<GdiLine> lines;
  int32_t lineHeight = 1;
};

// Breaks text into lines of at most maxWidthPx pixels with the font selected into dc.
bool breakGdiLines(GdiDeviceContext& dc, std::u16string_view text, int32_t maxWidthPx,
                   GdiLines* out);

// The whitespace classification of the line breaker.
bool isGdiWhitespace(char16_t c);

LayoutResult measureGdiLayout(Gdi& gdi, const ResolvedFont& entry, const std::u16string& text,
                              float fontSize, float width, float dpiScale);

}  // namespace kfp
