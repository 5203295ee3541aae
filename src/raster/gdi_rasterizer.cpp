#include <bit>
#include <cstring>

#include "layout/gdi_layout.h"
#include "raster/rasterize_layout.h"

namespace kfp {
namespace {

constexpr uint32_t kBlack = 0x000000;

// Coverage from the luminance of black ink on white; the weights sum to 256. The pixel is read as
// one little-endian word (blue in the low byte) so that the loop over a bitmap vectorizes.
static_assert(std::endian::native == std::endian::little);
uint8_t coverageOf(const uint8_t* bgrx) {
  uint32_t pixel;
  std::memcpy(&pixel, bgrx, sizeof pixel);
  const uint32_t luminance =
      (77u * (pixel >> 16 & 0xFF) + 150u * (pixel >> 8 & 0xFF) + 29u * (pixel & 0xFF)) >> 8;
  return static_cast<uint8_t>(255u - luminance);
}

// Draws every line of the layout into the DIB selected into dc. False on any failure.
bool drawLines(GdiDeviceContext& dc, const GdiLayout& layout, int32_t maxWidthPx) {
  GdiLines lines;
  if (!breakGdiLines(dc, layout.text, maxWidthPx, &lines)) return false;
  for (size_t i = 0; i < lines.lines.size(); ++i) {
    const GdiLine& line = lines.lines[i];
    // An empty line still takes its slot.
    if (line.length == 0) continue;
    const int32_t y = static_cast<int32_t>(i) * lines.lineHeight;
    if (!dc.textOut(0, y, layout.text.data() + line.start, static_cast<int>(line.length))) {
      dc.flush();
      return false;
    }
  }
  dc.flush();
  return true;
}

// Selects the bitmap and then the font, and restores whichever was selected when it goes.
class Selection {
 public:
  Selection(GdiDeviceContext& dc, GdiBitmap& bitmap, GdiFont& font) : dc_(dc) {
    bitmapSelected_ = dc.selectBitmap(bitmap);
    fontSelected_ = dc.selectFont(font);
  }
  ~Selection() {
    if (fontSelected_) dc_.restoreFont();
    if (bitmapSelected_) dc_.restoreBitmap();
  }
  Selection(const Selection&) = delete;
  Selection& operator=(const Selection&) = delete;
  bool ok() const { return bitmapSelected_ && fontSelected_; }

 private:
  GdiDeviceContext& dc_;
  bool bitmapSelected_ = false;
  bool fontSelected_ = false;
};

}  // namespace

bool rasterizeGdiLayout(Gdi& gdi, const LayoutResult& result, std::vector<uint8_t>& pixels,
                        uint32_t& pixelWidth, uint32_t& pixelHeight) {
  const GdiLayout* gdiLayout = result.gdiLayout();
  if (!gdiLayout) return false;
  const GdiLayout& layout = *gdiLayout;
  pixelWidth = pixelExtent(layout.width, layout.dpiScale);
  pixelHeight = pixelExtent(result.height, layout.dpiScale);
  if (!bitmapSizeAllowed(pixelWidth, pixelHeight)) return false;

  // Declared so that leaving destroys the bitmap, then the font, then the context.
  std::unique_ptr<GdiDeviceContext> dc;
  std::unique_ptr<GdiFont> font = createGdiFont(gdi, layout.familyName, layout.weight,
                                                layout.italic, layout.fontSize, layout.dpiScale);
  dc = gdi.createCompatibleDC();
  if (!font || !dc) return false;
  std::unique_ptr<GdiBitmap> bitmap = gdi.createDibSection(*dc, pixelWidth, pixelHeight);
  if (!bitmap || !bitmap->pixels()) return false;

  const size_t count = size_t{pixelWidth} * pixelHeight;
  bool drawn = false;
  {
    Selection selection(*dc, *bitmap, *font);
    std::memset(bitmap->pixels(), 0xFF, count * 4);
    dc->setTransparentBackground();
    dc->setTextColor(kBlack);
    drawn = selection.ok() && drawLines(*dc, layout, static_cast<int32_t>(pixelWidth));
  }
  if (!drawn) return false;

  const uint8_t* dib = bitmap->pixels();
  pixels.resize(count);
  // Local pointers: a byte store through the vector could otherwise change its own data pointer,
  // which keeps the compiler from vectorizing.
  uint8_t* out = pixels.data();
  for (size_t p = 0; p < count; ++p) out[p] = coverageOf(dib + 4 * p);
  return true;
}

}  // namespace kfp
