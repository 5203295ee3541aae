#include "platform/linux/raster/graphics.h"

#include <cmath>
#include <cstring>

#include "platform/linux/raster/glyph_cache.h"

namespace kfp::linux_backend {
namespace {

// Pixel buffers up to this size are kept for the next bitmap; larger ones are freed with their
// bitmap so that one huge render does not pin its memory for the life of the process.
constexpr size_t kRetainedBufferBytes = 4u << 20;

// The width of the fixed blit step for narrow glyph rows; one SSE2 register of pixels.
constexpr int32_t kBlitLanes = 16;
using Lanes = uint8_t __attribute__((vector_size(kBlitLanes)));
using WideLanes = uint16_t __attribute__((vector_size(2 * kBlitLanes)));
constexpr Lanes kLaneIndex = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

// compositeOver on a whole vector, in 16-bit lanes: the product plus its rounding stays below 2^16.
Lanes compositeOverLanes(Lanes destination, Lanes source) {
  const WideLanes product =
      __builtin_convertvector(destination, WideLanes) * __builtin_convertvector(source, WideLanes) +
      128;
  const WideLanes rounded = (product + (product >> 8)) >> 8;
  return destination + source - __builtin_convertvector(rounded, Lanes);
}

}  // namespace

void blitGlyph(const GlyphImage& image, int32_t penX, int32_t baselineY, A8Surface surface) {
  const int32_t x0 = penX + image.left;
  const int32_t y0 = baselineY - image.top;
  const int32_t xBegin = std::max(0, -x0);
  const int32_t yBegin = std::max(0, -y0);
  const int32_t xEnd = std::min<int64_t>(image.width, int64_t(surface.width) - x0);
  const int32_t yEnd = std::min<int64_t>(image.height, int64_t(surface.height) - y0);
  // Wholly outside: a glyph left of the surface would otherwise reach the narrow path below with a
  // negative width.
  if (xBegin >= xEnd || yBegin >= yEnd) return;
  const size_t imageBytes = size_t(image.width) * image.height;
  for (int32_t y = yBegin; y < yEnd; ++y) {
    // Both rows start at the first visible column: x0 may be negative, and a pointer before the
    // surface is undefined even when never dereferenced.
    const size_t sourceOffset = size_t(y) * image.width + size_t(xBegin);
    const uint8_t* source = image.pixels + sourceOffset;
    uint8_t* destination = surface.pixels + size_t(y0 + y) * surface.width + (x0 + xBegin);
    const int32_t count = xEnd - xBegin;
    if (count <= kBlitLanes && x0 + xBegin + kBlitLanes <= int64_t(surface.width)) {
      // Most glyph rows are narrower than one vector, where the loop below would run only its
      // scalar tail. One fixed-width step instead: the lanes past the row have zero coverage, and
      // compositing zero leaves a pixel exactly as it was. Where the image goes on for a whole
      // vector the lanes are one load, masked: a copy of `count` bytes would be stored piecewise
      // and read back whole, which stalls the load on every row.
      Lanes lanes;
      if (sourceOffset + kBlitLanes <= imageBytes) {
        std::memcpy(&lanes, source, kBlitLanes);
        lanes &= reinterpret_cast<Lanes>(kLaneIndex < uint8_t(count));
      } else {
        lanes = Lanes{};
        std::memcpy(&lanes, source, size_t(count));
      }
      Lanes under;
      std::memcpy(&under, destination, kBlitLanes);
      under = compositeOverLanes(under, lanes);
      std::memcpy(destination, &under, kBlitLanes);
      continue;
    }
    // Branch-free so that the compiler vectorizes it.
    for (int32_t x = 0; x < count; ++x) destination[x] = compositeOver(destination[x], source[x]);
  }
}

namespace {

// The pixel memory shared by the bitmaps of one Graphics, lent to one bitmap at a time.
struct SharedPixels {
  std::vector<uint8_t> bytes;
  bool lent = false;
};

class LinuxBitmap : public Bitmap {
 public:
  LinuxBitmap(std::shared_ptr<SharedPixels> shared, uint32_t width, uint32_t height)
      : shared_(std::move(shared)), width_(width), height_(height) {
    const size_t bytes = size_t(width) * height;
    if (shared_ && !shared_->lent && bytes <= kRetainedBufferBytes) {
      shared_->lent = true;
      if (shared_->bytes.size() < bytes) shared_->bytes.resize(bytes);
      pixels_ = shared_->bytes.data();
    } else {
      shared_.reset();
      own_.resize(bytes);
      pixels_ = own_.data();
    }
    std::memset(pixels_, 0, bytes);
  }
  ~LinuxBitmap() override {
    if (shared_) shared_->lent = false;
  }

  bool lock(BitmapLock* out) override {
    if (!out || !pixels_) return false;
    out->data = pixels_;
    out->stride = width_;
    out->bytesPerPixel = 1;
    out->alphaOffset = 0;
    return true;
  }

  A8Surface surface() { return {pixels_, width_, height_}; }
  // Transparent again; free when nothing was drawn since the bitmap was made or last cleared.
  void clear() {
    if (drawn_) std::memset(pixels_, 0, size_t(width_) * height_);
    drawn_ = false;
  }
  void markDrawn() { drawn_ = true; }

 private:
  std::shared_ptr<SharedPixels> shared_;
  std::vector<uint8_t> own_;
  uint8_t* pixels_ = nullptr;
  uint32_t width_;
  uint32_t height_;
  bool drawn_ = false;
};

class LinuxRenderTarget : public RenderTarget {
 public:
  LinuxRenderTarget(LinuxBitmap& bitmap, float scale, std::shared_ptr<GlyphRasterizer> rasterizer)
      : bitmap_(bitmap), scale_(scale), rasterizer_(std::move(rasterizer)) {}

  void setGrayscaleTextAntialiasing() override {}
  bool createOpaqueWhiteBrush() override { return true; }
  void beginDraw() override {}
  void clear() override { bitmap_.clear(); }
  void drawTextLayout(const TextLayout& layout) override {
    if (const auto* linuxLayout = dynamic_cast<const LinuxTextLayout*>(&layout)) {
      bitmap_.markDrawn();
      drawLayout(*linuxLayout, scale_, *rasterizer_, bitmap_.surface());
      // The file shrank while its glyphs were drawn: they came from zero pages.
      if (linuxLayout->face && linuxLayout->face->fileChangeSeen()) faulted_ = true;
    }
  }
  bool endDraw() override { return !faulted_; }

 private:
  bool faulted_ = false;
  LinuxBitmap& bitmap_;
  float scale_;
  std::shared_ptr<GlyphRasterizer> rasterizer_;
};

class LinuxGraphics : public Graphics {
 public:
  std::unique_ptr<Bitmap> createBitmap(uint32_t width, uint32_t height) override {
    if (width == 0 || height == 0) return nullptr;
    return std::make_unique<LinuxBitmap>(pixels_, width, height);
  }
  std::unique_ptr<RenderTarget> createRenderTarget(Bitmap& bitmap, float dpi) override {
    auto* linuxBitmap = dynamic_cast<LinuxBitmap*>(&bitmap);
    if (!linuxBitmap || !std::isfinite(dpi) || dpi <= 0) return nullptr;
    return std::make_unique<LinuxRenderTarget>(*linuxBitmap, dpi / 96.0f, rasterizer_);
  }

 private:
  std::shared_ptr<SharedPixels> pixels_ = std::make_shared<SharedPixels>();
  std::shared_ptr<GlyphRasterizer> rasterizer_ = std::make_shared<GlyphRasterizer>();
};

}  // namespace

void drawLayout(const LinuxTextLayout& layout, float scale, GlyphRasterizer& rasterizer,
                A8Surface surface) {
  if (!layout.face || layout.glyphs.empty() || !surface.pixels) return;
  GlyphCache& cache = layout.face->glyphCache();
  const uint32_t variation = cache.variationId(layout.coordinates);
  const float pixelSize = layout.fontSize * scale;
  const auto sizeIn64ths = static_cast<uint32_t>(std::lround(pixelSize * 64));
  if (sizeIn64ths == 0) return;
  rasterizer.begin(layout.face->ftFace(), cache.variations().coordinates(variation), sizeIn64ths,
                   layout.simulations);
  for (const PositionedGlyph& glyph : layout.glyphs) {
    const float x = glyph.x * scale;
    const float y = glyph.y * scale;
    if (!(std::fabs(x) < 1e6f && std::fabs(y) < 1e6f)) continue;
    const auto quarter = static_cast<int64_t>(std::lround(x * kSubpixelPhases));
    const auto penX =
        static_cast<int32_t>(quarter >= 0 ? quarter / kSubpixelPhases
                                          : (quarter - kSubpixelPhases + 1) / kSubpixelPhases);
    const auto phase = static_cast<uint32_t>(quarter - int64_t(penX) * kSubpixelPhases);
    const auto baselineY = static_cast<int32_t>(std::lround(y));
    const uint64_t key =
        GlyphCache::imageKey(glyph.id, sizeIn64ths, variation, phase, layout.simulations);
    GlyphImage image;
    if (!cache.find(key, &image)) {
      if (!rasterizer.render(glyph.id, phase, &image)) image = GlyphImage{};
      cache.insert(key, image);
    }
    if (image.width && image.height) blitGlyph(image, penX, baselineY, surface);
  }
  rasterizer.end();
}

std::shared_ptr<Graphics> createLinuxGraphics() {
  return std::make_shared<LinuxGraphics>();
}

}  // namespace kfp::linux_backend
