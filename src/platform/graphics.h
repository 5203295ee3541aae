#pragma once
// Seam: the drawing surface. A bitmap of a given size and a render target on it that draws a text
// layout at a DPI with grayscale anti-aliasing, opaque white ink on a transparent background, so
// that each pixel's alpha is its coverage.

#include <cstdint>
#include <memory>

#include "platform/text_engine.h"

namespace kfp {

// Read access to a bitmap's pixels: row r starts at data + r * stride; a pixel is bytesPerPixel
// bytes and its alpha sits at alphaOffset.
struct BitmapLock {
  const uint8_t* data = nullptr;
  uint32_t stride = 0;
  uint32_t bytesPerPixel = 4;
  uint32_t alphaOffset = 3;
};

class Bitmap {
 public:
  virtual ~Bitmap() = default;
  virtual bool lock(BitmapLock* out) = 0;
};

class RenderTarget {
 public:
  virtual ~RenderTarget() = default;
  virtual void setGrayscaleTextAntialiasing() = 0;
  virtual bool createOpaqueWhiteBrush() = 0;
  virtual void beginDraw() = 0;
  virtual void clear() = 0;  // transparent
  // Draws the layout with its top-left corner at the bitmap's top-left corner.
  virtual void drawTextLayout(const TextLayout& layout) = 0;
  virtual bool endDraw() = 0;
};

class Graphics {
 public:
  virtual ~Graphics() = default;
  virtual std::unique_ptr<Bitmap> createBitmap(uint32_t width, uint32_t height) = 0;
  // One DIP spans dpi / 96 pixels.
  virtual std::unique_ptr<RenderTarget> createRenderTarget(Bitmap& bitmap, float dpi) = 0;
};

}  // namespace kfp
