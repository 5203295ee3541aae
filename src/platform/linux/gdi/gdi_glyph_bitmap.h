#pragma once
// Glyph images of the GDI-style backend composited onto its BGRX surfaces, and the strike choice
// for faces that only have bitmaps.

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdint>
#include <span>

namespace kfp::linux_backend {

// 32-bit pixels, blue, green, red, unused; rows 4 * width bytes apart, top row first.
struct BgrxSurface {
  uint8_t* data = nullptr;
  uint32_t width = 0;
  uint32_t height = 0;
};

// Coverage 0..255 of the glyph bitmap's pixel (column, row). GRAY bitmaps with fewer than 256
// levels (converted 2- and 4-bit strikes, emboldened ones) are stretched to the full range; 0 for
// pixel modes other than MONO, GRAY and BGRA.
uint8_t glyphCoverage(const FT_Bitmap& bitmap, unsigned column, unsigned row);

// Blends the glyph bitmap in colorRef (0x00BBGGRR) onto surface with its top-left pixel at
// (left, top), clipped to the surface. 2- and 4-bit bitmaps are converted with library first.
void blitGlyph(FT_Library library, const FT_Bitmap& bitmap, int left, int top, uint32_t colorRef,
               BgrxSurface surface);

// Index of the strike nearest `wanted` pixels, the smaller one on a tie: compared by cell height
// when byCell, else by the y ppem rounded to whole pixels. -1 for no strikes.
int nearestStrike(std::span<const FT_Bitmap_Size> strikes, int wanted, bool byCell);

}  // namespace kfp::linux_backend
