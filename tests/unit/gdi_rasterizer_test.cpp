#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "layout/gdi_layout.h"
#include "raster/rasterize_layout.h"
#include "support/fake_gdi.h"

namespace kfp {
namespace {

using testing::FakeGdi;

LayoutResult gdiLayout(std::u16string text, float width, float height, float dpiScale) {
  LayoutResult layout;
  layout.resolved = true;
  layout.height = height;
  layout.drawing = GdiLayout{.text = std::move(text),
                             .familyName = u"Terminus",
                             .fontSize = 10,
                             .width = width,
                             .dpiScale = dpiScale};
  return layout;
}

TEST(RasterizeGdiLayoutTest, BitmapSize) {
  const struct {
    const char* name;
    float width, height, dpiScale;
    bool drawn;
    uint32_t pixelWidth, pixelHeight;
  } kCases[] = {
      {"fractional scale", 300, 34, 1.5f, true, 450, 51},
      {"3 lines of 66 px", 300, 99, 2, true, 600, 198},
      {"largest side and area", 8192, 1024, 2, true, 16384, 2048},
      {"side above the limit", 8192, 10, 2.5f, false, 20480, 25},
      {"area above the limit", 8192, 1024.5f, 2, false, 16384, 2049},
      {"no rows", 300, 0, 1, false, 300, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    FakeGdi gdi;
    std::vector<uint8_t> pixels;
    uint32_t pixelWidth = 0, pixelHeight = 0;
    EXPECT_EQ(rasterizeGdiLayout(gdi, gdiLayout(u"ab", c.width, c.height, c.dpiScale), pixels,
                                 pixelWidth, pixelHeight),
              c.drawn);
    EXPECT_EQ(pixelWidth, c.pixelWidth);
    EXPECT_EQ(pixelHeight, c.pixelHeight);
    EXPECT_EQ(pixels.size(), c.drawn ? size_t{c.pixelWidth} * c.pixelHeight : 0u);
    // The limits are checked before any platform object is made.
    EXPECT_EQ(gdi.createdFonts.empty(), !c.drawn);
    EXPECT_TRUE(gdi.allReleased());
  }
}

// Rows [top, bottom) of columns [0, inkWidth) hold `ink`; every other byte is 0.
void expectBand(const std::vector<uint8_t>& pixels, uint32_t width, uint32_t top, uint32_t bottom,
                uint32_t inkWidth, uint8_t ink) {
  for (uint32_t y = top; y < bottom; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      ASSERT_EQ(pixels[y * width + x], x < inkWidth ? ink : 0) << "x " << x << " y " << y;
    }
  }
}

TEST(RasterizeGdiLayoutTest, LinesDrawnAtTheirSlots) {
  FakeGdi gdi;
  gdi.metrics = {8, 2};  // cells of 8 rows, 10 rows apart
  std::vector<uint8_t> pixels;
  uint32_t pixelWidth = 0, pixelHeight = 0;
  ASSERT_TRUE(
      rasterizeGdiLayout(gdi, gdiLayout(u"ab\n\ncde", 10, 30, 5), pixels, pixelWidth, pixelHeight));
  ASSERT_EQ(pixelWidth, 50u);
  ASSERT_EQ(pixelHeight, 150u);
  ASSERT_EQ(gdi.textOuts.size(), 2u);
  EXPECT_EQ(gdi.textOuts[0].y, 0);
  EXPECT_EQ(gdi.textOuts[0].text, u"ab");
  EXPECT_EQ(gdi.textOuts[1].x, 0);
  EXPECT_EQ(gdi.textOuts[1].y, 20);  // the empty line keeps its slot
  EXPECT_EQ(gdi.textOuts[1].text, u"cde");

  const struct {
    const char* name;
    uint32_t top, bottom, inkWidth;
  } kBands[] = {
      {"first line", 0, 8, 20},   {"leading", 8, 10, 0},          {"empty line", 10, 20, 0},
      {"third line", 20, 28, 30}, {"below the text", 28, 150, 0},
  };
  for (const auto& band : kBands) {
    SCOPED_TRACE(band.name);
    expectBand(pixels, pixelWidth, band.top, band.bottom, band.inkWidth, 255);
  }
  EXPECT_GE(gdi.flushes, 1);
  EXPECT_TRUE(gdi.allReleased());
}

TEST(RasterizeGdiLayoutTest, LinesWrapAtThePixelWidth) {
  FakeGdi gdi;
  std::vector<uint8_t> pixels;
  uint32_t pixelWidth = 0, pixelHeight = 0;
  // 2.5 DIPs at scale 12 are 30 pixels: three 10-pixel units per line.
  ASSERT_TRUE(
      rasterizeGdiLayout(gdi, gdiLayout(u"abc def", 2.5f, 2, 12), pixels, pixelWidth, pixelHeight));
  ASSERT_EQ(gdi.textOuts.size(), 2u);
  EXPECT_EQ(gdi.textOuts[1].text, u"def");
  EXPECT_EQ(gdi.textOuts[1].y, 10);
  EXPECT_EQ(gdi.extentLimits, (std::vector<int>{30, 30}));
}

TEST(RasterizeGdiLayoutTest, LuminanceToCoverage) {
  const struct {
    const char* name;
    uint8_t blue, green, red;
    uint8_t coverage;
  } kCases[] = {
      {"black", 0, 0, 0, 255},        {"white", 255, 255, 255, 0}, {"grey 128", 128, 128, 128, 127},
      {"red", 0, 0, 255, 179},        {"green", 0, 255, 0, 106},   {"blue", 255, 0, 0, 227},
      {"dark grey", 64, 64, 64, 191},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    FakeGdi gdi;
    gdi.useInkOverride = true;
    gdi.inkBlue = c.blue;
    gdi.inkGreen = c.green;
    gdi.inkRed = c.red;
    std::vector<uint8_t> pixels;
    uint32_t pixelWidth = 0, pixelHeight = 0;
    ASSERT_TRUE(
        rasterizeGdiLayout(gdi, gdiLayout(u"a", 20, 10, 1), pixels, pixelWidth, pixelHeight));
    expectBand(pixels, pixelWidth, 0, pixelHeight, 10, c.coverage);
  }
}

TEST(RasterizeGdiLayoutTest, FailuresLeavePixelsUntouched) {
  const struct {
    const char* name;
    void (*script)(FakeGdi&);
  } kCases[] = {
      {"font creation", [](FakeGdi& g) { g.failCreateFont = true; }},
      {"substitute face",
       [](FakeGdi& g) {
         g.selectFace = [](const GdiFontRequest&) { return std::u16string(u"X"); };
       }},
      {"drawing context", [](FakeGdi& g) { g.failDeviceContextCall = 1; }},
      {"DIB section", [](FakeGdi& g) { g.failDibSection = true; }},
      {"DIB without pixels", [](FakeGdi& g) { g.dibWithoutPixels = true; }},
      {"bitmap selection", [](FakeGdi& g) { g.failSelectBitmap = true; }},
      {"font selection", [](FakeGdi& g) { g.failSelectFontCall = 1; }},
      {"text metrics", [](FakeGdi& g) { g.failTextMetrics = true; }},
      {"text extent", [](FakeGdi& g) { g.failTextExtent = true; }},
      {"first text out", [](FakeGdi& g) { g.failTextOutCall = 0; }},
      {"later text out", [](FakeGdi& g) { g.failTextOutCall = 1; }},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    FakeGdi gdi;
    c.script(gdi);
    std::vector<uint8_t> pixels;
    uint32_t pixelWidth = 0, pixelHeight = 0;
    EXPECT_FALSE(
        rasterizeGdiLayout(gdi, gdiLayout(u"ab\ncd", 20, 20, 1), pixels, pixelWidth, pixelHeight));
    EXPECT_TRUE(pixels.empty());
    EXPECT_TRUE(gdi.allReleased());
  }
}

}  // namespace
}  // namespace kfp
