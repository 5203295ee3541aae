// Direct2D drawing on WIC bitmaps, in one program so that the device starts once. Under Wine it
// needs an X display (Xvfb), seen by the prefix before the first render target.
#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "host/renderer_context.h"
#include "layout/measure_layout.h"
#include "layout/resolved_font_cache.h"
#include "platform/windows/windows_backend.h"
#include "raster/rasterize_layout.h"
#include "support/installed_fonts.h"
#include "support/registered_fonts.h"
#include "windows/windows_test_support.h"

namespace kfp {
namespace {

using windows_test::runningUnderWine;
using windows_test::ScopedEnvironment;

// The inked area of a BGRA bitmap: the box of pixels with nonzero alpha.
struct InkBox {
  int left = -1;
  int top = -1;
  int right = -1;  // exclusive
  int bottom = -1;
  bool empty() const { return left < 0; }
  int width() const { return right - left; }
  int height() const { return bottom - top; }
};

struct Drawn {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t stride = 0;
  std::vector<uint8_t> bgra;  // rows `stride` bytes apart
  const uint8_t* pixel(uint32_t x, uint32_t y) const { return bgra.data() + y * stride + 4 * x; }
  InkBox ink() const {
    InkBox box;
    for (uint32_t y = 0; y < height; ++y) {
      for (uint32_t x = 0; x < width; ++x) {
        if (pixel(x, y)[3] == 0) continue;
        if (box.empty()) box = {int(x), int(y), int(x) + 1, int(y) + 1};
        box.left = std::min(box.left, int(x));
        box.right = std::max(box.right, int(x) + 1);
        box.bottom = int(y) + 1;
      }
    }
    return box;
  }
};

class WindowsGraphicsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Under Wine only the version-0 matching works; on Windows the hidden set changes nothing
    // that these drawing cases look at.
    hide_ = new ScopedEnvironment("KFP_TEST_HIDE_FONTSET1", runningUnderWine() ? "1" : "0");
    backend_ = createWindowsBackend().release();
    context_ = new RendererContext(*backend_);
    initialized_ = context_->initialize();
    RegisteredFont dejaVu;
    dejaVu.postScriptName = u"DejaVuSans";
    dejaVu.familyName = u"DejaVu Sans";
    dejaVu.axisValues = {{kWghtTag, 400}};
    ::kfp::testing::activateFonts(context_->registry(), {{u"dejavu", dejaVu}});
  }
  static void TearDownTestSuite() {
    delete context_;
    delete backend_;
    delete hide_;
  }
  void SetUp() override {
    ASSERT_TRUE(initialized_);
    ASSERT_TRUE(context_->platform().graphics());
    const ResolvedFont& entry = context_->resolvedFonts().resolveFont(
        context_->platform(), context_->registry(), u"dejavu");
    KFP_REQUIRE_INSTALLED_FONT(entry.found && entry.kind == FontKind::kDirectWrite, "DejaVu Sans");
  }

  static LayoutResult layout(const std::u16string& text, float width = 300) {
    return measureLayout(context_->platform(), context_->registry(), context_->resolvedFonts(),
                         u"dejavu", text, 28, width, 1);
  }

  // Draws through the graphics seam, step by step, and copies the locked BGRA pixels out.
  static bool draw(const TextLayout& text, uint32_t width, uint32_t height, float dpi, Drawn* out) {
    Graphics& graphics = *context_->platform().graphics();
    std::unique_ptr<Bitmap> bitmap = graphics.createBitmap(width, height);
    if (!bitmap) return false;
    {
      std::unique_ptr<RenderTarget> target = graphics.createRenderTarget(*bitmap, dpi);
      if (!target) return false;
      target->setGrayscaleTextAntialiasing();
      if (!target->createOpaqueWhiteBrush()) return false;
      target->beginDraw();
      target->clear();
      target->drawTextLayout(text);
      if (!target->endDraw()) return false;
    }
    BitmapLock lock;
    if (!bitmap->lock(&lock)) return false;
    EXPECT_EQ(lock.bytesPerPixel, 4u);
    EXPECT_EQ(lock.alphaOffset, 3u);
    EXPECT_GE(lock.stride, 4 * width);
    out->width = width;
    out->height = height;
    out->stride = lock.stride;
    out->bgra.assign(lock.data, lock.data + size_t{lock.stride} * height);
    return true;
  }

  static inline ScopedEnvironment* hide_ = nullptr;
  static inline Backend* backend_ = nullptr;
  static inline RendererContext* context_ = nullptr;
  static inline bool initialized_ = false;
};

TEST_F(WindowsGraphicsTest, DrawsGrayscaleWhiteInkInsideTheLayoutBox) {
  const LayoutResult measured = layout(u"Hg");
  ASSERT_TRUE(measured.resolved) << measured.error;
  const uint32_t height = uint32_t(measured.height);
  Drawn drawn;
  ASSERT_TRUE(draw(*measured.textLayout(), 300, height, 96, &drawn));
  const InkBox box = drawn.ink();
  ASSERT_FALSE(box.empty());
  // "Hg" at 28 DIPs: the H's stem starts near the left edge, the g descends below the baseline,
  // and both together are well under 60 DIPs wide.
  EXPECT_LE(box.left, 5);
  EXPECT_GT(box.width(), 20);
  EXPECT_LT(box.right, 60);
  EXPECT_GT(box.height(), 20);
  EXPECT_LE(uint32_t(box.bottom), height);

  bool partial = false;
  uint8_t strongest = 0;
  for (uint32_t y = 0; y < drawn.height; ++y) {
    for (uint32_t x = 0; x < drawn.width; ++x) {
      const uint8_t* p = drawn.pixel(x, y);
      // Premultiplied opaque white: every colour channel equals the coverage; grayscale
      // anti-aliasing never gives the channels different values.
      ASSERT_TRUE(p[0] == p[3] && p[1] == p[3] && p[2] == p[3]) << x << "," << y;
      partial |= p[3] > 0 && p[3] < 255;
      strongest = std::max(strongest, p[3]);
    }
  }
  EXPECT_TRUE(partial);  // anti-aliased edges
  EXPECT_EQ(strongest, 255);
}

TEST_F(WindowsGraphicsTest, DpiScalesTheDrawing) {
  const LayoutResult measured = layout(u"Hg");
  ASSERT_TRUE(measured.resolved) << measured.error;
  Drawn single;
  Drawn twice;
  const uint32_t height = uint32_t(measured.height);
  ASSERT_TRUE(draw(*measured.textLayout(), 300, height, 96, &single));
  ASSERT_TRUE(draw(*measured.textLayout(), 600, 2 * height, 192, &twice));
  const InkBox a = single.ink();
  const InkBox b = twice.ink();
  ASSERT_FALSE(a.empty());
  ASSERT_FALSE(b.empty());
  EXPECT_NEAR(b.width(), 2 * a.width(), 3);
  EXPECT_NEAR(b.height(), 2 * a.height(), 3);
  EXPECT_NEAR(b.top, 2 * a.top, 3);
}

TEST_F(WindowsGraphicsTest, EmptyTextLeavesEveryPixelClear) {
  const LayoutResult measured = layout(u"");
  ASSERT_TRUE(measured.resolved) << measured.error;
  Drawn drawn;
  ASSERT_TRUE(draw(*measured.textLayout(), 64, 40, 96, &drawn));
  EXPECT_TRUE(std::all_of(drawn.bgra.begin(), drawn.bgra.end(), [](uint8_t b) { return b == 0; }));
}

TEST_F(WindowsGraphicsTest, BitmapsOfManySizes) {
  struct Row {
    uint32_t width;
    uint32_t height;
  };
  const Row rows[] = {{1, 1}, {3, 2}, {450, 51}, {16384, 1}};
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.width) + "x" + std::to_string(row.height));
    std::unique_ptr<Bitmap> bitmap =
        context_->platform().graphics()->createBitmap(row.width, row.height);
    ASSERT_TRUE(bitmap);
    BitmapLock lock;
    ASSERT_TRUE(bitmap->lock(&lock));
    EXPECT_NE(lock.data, nullptr);
    EXPECT_GE(lock.stride, 4 * row.width);
  }
  EXPECT_EQ(context_->platform().graphics()->createBitmap(0, 5), nullptr);
}

TEST_F(WindowsGraphicsTest, RendersThroughTheRasterizer) {
  struct Row {
    std::u16string text;
    float dpiScale;
  };
  const Row rows[] = {{u"Hg", 1}, {u"Hg", 1.5f}, {u"word word word word", 2}, {u"", 1}};
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.text.begin(), row.text.end()) + " at " +
                 std::to_string(row.dpiScale));
    const LayoutResult measured =
        measureLayout(context_->platform(), context_->registry(), context_->resolvedFonts(),
                      u"dejavu", row.text, 28, 120, row.dpiScale);
    ASSERT_TRUE(measured.resolved) << measured.error;
    std::vector<uint8_t> pixels;
    uint32_t width = 0;
    uint32_t height = 0;
    ASSERT_TRUE(
        rasterizeLayout(context_->platform(), measured, 120, row.dpiScale, pixels, width, height));
    EXPECT_EQ(width, uint32_t(std::ceil(120 * row.dpiScale)));
    EXPECT_EQ(height, uint32_t(std::ceil(measured.height * row.dpiScale)));
    ASSERT_EQ(pixels.size(), size_t{width} * height);
    const uint8_t strongest = *std::max_element(pixels.begin(), pixels.end());
    EXPECT_EQ(strongest, row.text.empty() ? 0 : 255);
    // Lines stack down the bitmap: the last line's ink reaches the bottom band.
    if (measured.lineCount > 1) {
      const size_t lastBand = size_t{height} * (measured.lineCount - 1) / measured.lineCount;
      EXPECT_GT(*std::max_element(pixels.begin() + lastBand * width, pixels.end()), 0);
    }
  }
}

}  // namespace
}  // namespace kfp
