#include "raster/rasterize_layout.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "host/renderer_context.h"
#include "support/fake_backend.h"

namespace kfp {
namespace {

using testing::FakeBackend;
using testing::FakeGraphics;

constexpr uint32_t kU32Max = std::numeric_limits<uint32_t>::max();

class StubLayout : public TextLayout {
 public:
  bool getMetrics(TextMetrics*) const override { return false; }
};

LayoutResult drawableLayout(float height) {
  LayoutResult layout;
  layout.resolved = true;
  layout.height = height;
  layout.drawing = std::unique_ptr<TextLayout>(std::make_unique<StubLayout>());
  return layout;
}

class RasterizeLayoutTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(ctx.initialize()); }
  FakeGraphics& graphics() { return *backend.graphics; }
  bool rasterize(const LayoutResult& layout, float width, float dpiScale) {
    return rasterizeLayout(ctx.platform(), layout, width, dpiScale, pixels, pixelWidth,
                           pixelHeight);
  }

  FakeBackend backend;
  RendererContext ctx{backend};
  std::vector<uint8_t> pixels;
  uint32_t pixelWidth = 0, pixelHeight = 0;
};

TEST(PixelExtent, CeilOfTheFloatProduct) {
  struct Case {
    float a, b;
    uint32_t expected;
  };
  const Case cases[] = {
      {300, 1.5f, 450},
      {1.5f, 34, 51},
      {8192, 2, 16384},
      {8192, 2.5f, 20480},
      {0.1f, 1, 1},
      {1024.5f, 2, 2049},
      {0, 1, 0},
      {-0.5f, 1, 0},
      {-5, 1, 0},
      {std::numeric_limits<float>::quiet_NaN(), 1, 0},
      {std::numeric_limits<float>::infinity(), 1, kU32Max},
      {1e30f, 1, kU32Max},
      // Would wrap to 512 if truncated through 64 bits into 32.
      {4294967296.0f + 512.0f, 1, kU32Max},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.a << " x " << c.b);
    EXPECT_EQ(pixelExtent(c.a, c.b), c.expected);
  }
}

TEST(BitmapSizeAllowed, SideAndAreaLimits) {
  struct Case {
    uint32_t width, height;
    bool allowed;
  };
  const Case cases[] = {
      {1, 1, true},        {16384, 1, true},     {1, 16384, true},    {16384, 2048, true},
      {2048, 16384, true}, {16384, 2049, false}, {16385, 1, false},   {1, 16385, false},
      {0, 10, false},      {10, 0, false},       {8192, 4097, false}, {kU32Max, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.width << " x " << c.height);
    EXPECT_EQ(bitmapSizeAllowed(c.width, c.height), c.allowed);
  }
}

TEST_F(RasterizeLayoutTest, DrawsTheWholeSequenceAtTheScaledDpi) {
  LayoutResult layout = drawableLayout(34);
  ASSERT_TRUE(rasterize(layout, 300, 1.5f));
  EXPECT_EQ(pixelWidth, 450u);
  EXPECT_EQ(pixelHeight, 51u);
  EXPECT_EQ(pixels.size(), 450u * 51u);
  EXPECT_EQ(graphics().bitmapWidth, 450u);
  EXPECT_EQ(graphics().bitmapHeight, 51u);
  EXPECT_EQ(graphics().dpi, 144.0f);
  EXPECT_EQ(graphics().drawnLayout, layout.textLayout());
  const std::vector<std::string> expected = {
      "createBitmap", "createRenderTarget", "grayscale", "brush", "beginDraw",
      "clear",        "drawTextLayout",     "endDraw",   "lock"};
  EXPECT_EQ(graphics().calls, expected);
}

TEST_F(RasterizeLayoutTest, SizeLimitsAreCheckedBeforeAnyBitmap) {
  struct Case {
    const char* name;
    float width, dpiScale, height;
    bool attempted;
  };
  const Case cases[] = {
      {"area exactly at the limit", 8192, 2, 1024, true},
      {"one row over the area", 8192, 2, 1024.5f, false},
      {"side over the limit", 8192, 2.5f, 10, false},
      {"negative height", 300, 1, -3, false},
  };
  // The accepted bitmap would need 128 MiB of fake surface: stop at its creation.
  graphics().failBitmap = true;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    graphics().calls.clear();
    EXPECT_FALSE(rasterize(drawableLayout(c.height), c.width, c.dpiScale));
    EXPECT_EQ(graphics().calls.size(), c.attempted ? 1u : 0u);
    EXPECT_TRUE(pixels.empty());
  }
}

TEST_F(RasterizeLayoutTest, EachPlatformFailureStopsThere) {
  struct Case {
    const char* name;
    bool FakeGraphics::*flag;
    const char* lastCall;
  };
  const Case cases[] = {
      {"bitmap", &FakeGraphics::failBitmap, "createBitmap"},
      {"render target", &FakeGraphics::failRenderTarget, "createRenderTarget"},
      {"brush", &FakeGraphics::failBrush, "brush"},
      {"end draw", &FakeGraphics::failEndDraw, "endDraw"},
      {"lock", &FakeGraphics::failLock, "lock"},
      {"lock without data", &FakeGraphics::nullLockData, "lock"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    graphics().calls.clear();
    graphics().*c.flag = true;
    EXPECT_FALSE(rasterize(drawableLayout(20), 100, 1));
    EXPECT_TRUE(pixels.empty());
    ASSERT_FALSE(graphics().calls.empty());
    EXPECT_EQ(graphics().calls.back(), c.lastCall);
    graphics().*c.flag = false;
  }
}

TEST_F(RasterizeLayoutTest, LayoutsThatCannotBeDrawn) {
  LayoutResult unresolved = drawableLayout(20);
  unresolved.resolved = false;
  LayoutResult noLayout = drawableLayout(20);
  noLayout.drawing = std::unique_ptr<TextLayout>();
  LayoutResult gdi;  // the GDI-style path, whose backend here knows no face
  gdi.resolved = true;
  gdi.drawing = GdiLayout{.familyName = u"Fam", .fontSize = 28, .width = 100};
  const std::pair<const char*, const LayoutResult*> cases[] = {
      {"unresolved", &unresolved}, {"no text layout", &noLayout}, {"gdi", &gdi}};
  for (const auto& [name, layout] : cases) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(rasterize(*layout, 100, 1));
    EXPECT_TRUE(pixels.empty());
  }
  EXPECT_TRUE(graphics().calls.empty());
}

TEST_F(RasterizeLayoutTest, CopiesAlphaOnly) {
  struct Case {
    const char* name;
    uint32_t stride, bytesPerPixel, alphaOffset;
    bool usable;
  };
  const Case cases[] = {
      {"packed BGRA", 12, 4, 3, true},       {"padded BGRA", 16, 4, 3, true},
      {"alpha first", 13, 4, 0, true},       {"one byte per pixel", 5, 1, 0, true},
      {"stride too small", 11, 4, 3, false}, {"alpha outside the pixel", 16, 4, 4, false},
  };
  // A 3 x 2 bitmap: pixel (x, y) has alpha 10 * (y + 1) + x; everything else reads 0xEE.
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> surface(size_t{c.stride} * 2, 0xEE);
    for (uint32_t y = 0; y < 2; ++y) {
      for (uint32_t x = 0; x < 3; ++x) {
        const size_t at = size_t{y} * c.stride + size_t{x} * c.bytesPerPixel + c.alphaOffset;
        if (at < surface.size()) surface[at] = uint8_t(10 * (y + 1) + x);
      }
    }
    graphics().lockBuffer = surface;
    graphics().lockStride = c.stride;
    graphics().lockBytesPerPixel = c.bytesPerPixel;
    graphics().lockAlphaOffset = c.alphaOffset;
    pixels.clear();
    EXPECT_EQ(rasterize(drawableLayout(2), 3, 1), c.usable);
    const std::vector<uint8_t> expected = {10, 11, 12, 20, 21, 22};
    EXPECT_EQ(pixels, c.usable ? expected : std::vector<uint8_t>{});
  }
}

}  // namespace
}  // namespace kfp
