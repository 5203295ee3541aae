#include "platform/linux/gdi/gdi_glyph_bitmap.h"

#include FT_BITMAP_H

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdlib>

namespace kfp::linux_backend {
namespace {

uint8_t blend(uint8_t destination, uint8_t ink, uint8_t coverage) {
  return static_cast<uint8_t>((destination * (255 - coverage) + ink * coverage + 127) / 255);
}

// Frees a converted bitmap's buffer with the library that allocated it.
class ConvertedBitmap {
 public:
  explicit ConvertedBitmap(FT_Library library) : library_(library) { FT_Bitmap_Init(&bitmap_); }
  ~ConvertedBitmap() { FT_Bitmap_Done(library_, &bitmap_); }
  ConvertedBitmap(const ConvertedBitmap&) = delete;
  ConvertedBitmap& operator=(const ConvertedBitmap&) = delete;
  FT_Bitmap* get() { return &bitmap_; }

 private:
  FT_Library library_;
  FT_Bitmap bitmap_;
};

}  // namespace

uint8_t glyphCoverage(const FT_Bitmap& bitmap, unsigned column, unsigned row) {
  const unsigned char* line = bitmap.buffer + static_cast<ptrdiff_t>(row) * bitmap.pitch;
  switch (bitmap.pixel_mode) {
    case FT_PIXEL_MODE_MONO:
      return (line[column >> 3] & (0x80 >> (column & 7))) ? 255 : 0;
    case FT_PIXEL_MODE_GRAY: {
      const unsigned value = line[column];
      // num_grays 0 or 1 says nothing about the range: take the byte as is.
      if (bitmap.num_grays <= 1 || bitmap.num_grays >= 256) return uint8_t(value);
      const unsigned top = bitmap.num_grays - 1u;
      return uint8_t((std::min(value, top) * 255u + top / 2) / top);
    }
    case FT_PIXEL_MODE_BGRA:
      return line[column * 4 + 3];
    default:
      return 0;
  }
}

void blitGlyph(FT_Library library, const FT_Bitmap& bitmap, int left, int top, uint32_t colorRef,
               BgrxSurface surface) {
  const FT_Bitmap* source = &bitmap;
  ConvertedBitmap converted(library);
  if (bitmap.pixel_mode == FT_PIXEL_MODE_GRAY2 || bitmap.pixel_mode == FT_PIXEL_MODE_GRAY4) {
    // Packed 2- and 4-bit strikes become one byte per pixel with num_grays 4 or 16.
    if (!library || FT_Bitmap_Convert(library, &bitmap, converted.get(), 1) != 0) return;
    source = converted.get();
  }
  if (source->pitch < 0) return;  // bottom-up glyph bitmaps do not occur for these formats
  const uint8_t blue = uint8_t(colorRef >> 16), green = uint8_t(colorRef >> 8);
  const uint8_t red = uint8_t(colorRef);
  const int width = static_cast<int>(surface.width), height = static_cast<int>(surface.height);
  const int rowBegin = std::max(0, -top), columnBegin = std::max(0, -left);
  const int rowEnd = std::min<int>(source->rows, height - top);
  const int columnEnd = std::min<int>(source->width, width - left);
  for (int row = rowBegin; row < rowEnd; ++row) {
    uint8_t* pixel = surface.data + (size_t(top + row) * width + left + columnBegin) * 4;
    for (int column = columnBegin; column < columnEnd; ++column, pixel += 4) {
      const uint8_t coverage = glyphCoverage(*source, unsigned(column), unsigned(row));
      if (coverage == 0) continue;
      pixel[0] = blend(pixel[0], blue, coverage);
      pixel[1] = blend(pixel[1], green, coverage);
      pixel[2] = blend(pixel[2], red, coverage);
    }
  }
}

int nearestStrike(std::span<const FT_Bitmap_Size> strikes, int wanted, bool byCell) {
  int best = -1;
  int bestSize = 0;
  int bestDistance = INT_MAX;
  for (size_t i = 0; i < strikes.size(); ++i) {
    const FT_Bitmap_Size& strike = strikes[i];
    const int size = byCell ? int(strike.height) : int((strike.y_ppem + 32) >> 6);
    const int distance = std::abs(size - wanted);
    if (distance < bestDistance || (distance == bestDistance && size < bestSize)) {
      best = int(i);
      bestSize = size;
      bestDistance = distance;
    }
  }
  return best;
}

}  // namespace kfp::linux_backend
