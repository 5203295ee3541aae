#pragma once
// Drawing of Linux text layouts into A8 bitmaps (internal to the backend and its tests).

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/graphics.h"
#include "platform/linux/raster/glyph_rasterizer.h"
#include "platform/linux/text/laid_out_text.h"

namespace kfp::linux_backend {

// Source-over of one coverage value onto another: a + b - ab, rounded. Never saturates early, so
// overlapping glyphs do not darken beyond what their union covers.
inline uint8_t compositeOver(uint8_t destination, uint8_t source) {
  const uint32_t product = uint32_t(destination) * source + 128;
  return static_cast<uint8_t>(destination + source - ((product + (product >> 8)) >> 8));
}

// An A8 surface: `height` rows of `width` bytes.
struct A8Surface {
  uint8_t* pixels = nullptr;
  uint32_t width = 0;
  uint32_t height = 0;
};

// Composites one glyph image with its pen position at (penX, baselineY), clipped to the surface.
void blitGlyph(const GlyphImage& image, int32_t penX, int32_t baselineY, A8Surface surface);

// Draws the layout with its top-left corner at the surface's, one DIP spanning `scale` pixels.
void drawLayout(const LinuxTextLayout& layout, float scale, GlyphRasterizer& rasterizer,
                A8Surface surface);

// Bitmaps and render targets that draw LinuxTextLayouts with FreeType.
std::shared_ptr<Graphics> createLinuxGraphics();

}  // namespace kfp::linux_backend
