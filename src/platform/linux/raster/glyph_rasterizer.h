#pragma once
// Renders single glyphs of a FreeType face into A8 coverage images: outlines with grayscale
// anti-aliasing (with bold and oblique simulation), COLR glyphs by the alpha of their layers, and
// bitmap strikes (CBDT, sbix) scaled to the requested size by area averaging.

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdint>
#include <span>
#include <vector>

#include "platform/linux/raster/glyph_cache.h"

namespace kfp::linux_backend {

// The coverage of a FreeType bitmap (gray at any depth, mono, or the alpha of BGRA) as rows of
// `width` bytes; false for other pixel modes.
bool bitmapCoverage(const FT_Bitmap& bitmap, std::vector<uint8_t>& coverage);

class GlyphRasterizer {
 public:
  // Starts rendering glyphs of one face at a pixel size (1/64 pixel units), variation coordinates
  // and simulations. The shared face is set up lazily, on the first render, so that a draw served
  // entirely from the cache touches FreeType not at all.
  void begin(FT_Face face, std::span<const float> coords, uint32_t sizeIn64ths,
             uint32_t simulations);
  // The glyph with its pen at subpixel phase `phase` (of kSubpixelPhases); false when FreeType
  // cannot render it. The image stays valid until the next render.
  bool render(uint32_t glyphId, uint32_t phase, GlyphImage* image);
  // Restores the face's default transform if it was changed.
  void end();

 private:
  bool setUpFace();
  bool renderOutline(uint32_t glyphId, uint32_t phase, GlyphImage* image);
  bool renderStrike(uint32_t glyphId, uint32_t phase, GlyphImage* image);
  bool copySlotBitmap(GlyphImage* image);

  FT_Face face_ = nullptr;
  std::span<const float> coords_;
  float pixelSize_ = 0;
  uint32_t simulations_ = 0;
  bool setUp_ = false;
  bool usable_ = false;
  bool useStrike_ = false;
  bool color_ = false;
  float outlineScale_ = 1;  // from FreeType's integer size to the requested one
  float strikeScale_ = 1;   // from the selected strike to the requested size
  std::vector<FT_Fixed> fixedCoords_;
  std::vector<uint8_t> image_;
  std::vector<uint8_t> strikeAlpha_;
  std::vector<float> rowPass_;
};

}  // namespace kfp::linux_backend
