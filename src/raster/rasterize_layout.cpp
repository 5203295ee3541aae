#include "raster/rasterize_layout.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

#include "platform/platform_services.h"

namespace kfp {
namespace {

constexpr float kBaseDpi = 96.0f;

// A lock whose rows or pixels would be read past their end is unusable.
bool lockUsable(const BitmapLock& lock, uint32_t pixelWidth) {
  return lock.data && lock.bytesPerPixel >= 1 && lock.alphaOffset < lock.bytesPerPixel &&
         uint64_t{lock.stride} >= uint64_t{pixelWidth} * lock.bytesPerPixel;
}

void copyAlpha(const BitmapLock& lock, uint32_t pixelWidth, uint32_t pixelHeight,
               std::vector<uint8_t>& pixels) {
  pixels.resize(size_t{pixelWidth} * pixelHeight);
  for (uint32_t y = 0; y < pixelHeight; ++y) {
    const uint8_t* row = lock.data + size_t{y} * lock.stride;
    uint8_t* out = pixels.data() + size_t{y} * pixelWidth;
    if (lock.bytesPerPixel == 1) {
      std::memcpy(out, row, pixelWidth);
      continue;
    }
    const uint8_t* alpha = row + lock.alphaOffset;
    for (uint32_t x = 0; x < pixelWidth; ++x) out[x] = alpha[size_t{x} * lock.bytesPerPixel];
  }
}

}  // namespace

uint32_t pixelExtent(float a, float b) {
  const float extent = std::ceil(a * b);
  // Truncating through 64 bits would wrap huge values into small, acceptable sizes (and is
  // undefined beyond the int64 range); saturating keeps every out-of-range value rejectable.
  if (!(extent >= 0.0f)) return 0;  // negative or NaN
  if (extent >= 4294967296.0f) return std::numeric_limits<uint32_t>::max();
  return static_cast<uint32_t>(static_cast<int64_t>(extent));
}

bool bitmapSizeAllowed(uint32_t pixelWidth, uint32_t pixelHeight) {
  return pixelWidth >= 1 && pixelHeight >= 1 && pixelWidth <= kMaxBitmapSide &&
         pixelHeight <= kMaxBitmapSide &&
         uint64_t{pixelWidth} * uint64_t{pixelHeight} <= kMaxBitmapArea;
}

bool rasterizeLayout(const PlatformServices& platform, const LayoutResult& layout, float width,
                     float dpiScale, std::vector<uint8_t>& pixels, uint32_t& pixelWidth,
                     uint32_t& pixelHeight) {
  if (!layout.resolved) return false;
  if (layout.gdiLayout()) {
    return rasterizeGdiLayout(platform.backend().gdi(), layout, pixels, pixelWidth, pixelHeight);
  }
  if (!layout.textLayout()) return false;
  pixelWidth = pixelExtent(width, dpiScale);
  pixelHeight = pixelExtent(dpiScale, layout.height);
  if (!bitmapSizeAllowed(pixelWidth, pixelHeight)) return false;
  if (!platform.graphics()) return false;

  // Declared bitmap first so that the target goes before the bitmap it draws into.
  std::unique_ptr<Bitmap> bitmap = platform.graphics()->createBitmap(pixelWidth, pixelHeight);
  if (!bitmap) return false;
  std::unique_ptr<RenderTarget> target =
      platform.graphics()->createRenderTarget(*bitmap, kBaseDpi * dpiScale);
  if (!target) return false;
  target->setGrayscaleTextAntialiasing();
  if (!target->createOpaqueWhiteBrush()) return false;
  target->beginDraw();
  target->clear();
  target->drawTextLayout(*layout.textLayout());
  if (!target->endDraw()) return false;

  // White ink on transparent, premultiplied: alpha alone is the coverage.
  BitmapLock lock;
  if (!bitmap->lock(&lock) || !lockUsable(lock, pixelWidth)) return false;
  copyAlpha(lock, pixelWidth, pixelHeight, pixels);
  return true;
}

}  // namespace kfp
