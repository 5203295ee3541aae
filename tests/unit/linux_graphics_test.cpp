// Drawing Linux text layouts into A8 bitmaps: compositing, strike scaling, placement at the scale,
// simulations, variations on a shared face, colour glyphs and bitmap reuse.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "linux_text_fixture.h"
#include "platform/linux/raster/area_resample.h"
#include "platform/linux/raster/glyph_cache.h"
#include "platform/linux/raster/glyph_rasterizer.h"
#include "platform/linux/raster/graphics.h"
#include "support/installed_fonts.h"

namespace kfp::linux_backend {
namespace {

using fixture::LinuxTextFixture;

// ---- Pixel arithmetic ----------------------------------------------------------------------

TEST(CompositeOver, IsSourceOverNotASaturatingAdd) {
  struct Case {
    uint8_t destination, source, expected;
  };
  const Case cases[] = {
      {0, 0, 0},       {0, 200, 200},   {200, 0, 200},  {255, 77, 255}, {77, 255, 255},
      {128, 128, 192}, {100, 100, 161}, {50, 200, 211}, {1, 1, 2},      {254, 254, 255},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << int(c.destination) << " over " << int(c.source));
    EXPECT_EQ(compositeOver(c.destination, c.source), c.expected);
    EXPECT_EQ(compositeOver(c.source, c.destination), c.expected) << "symmetric";
  }
  // Two half-covered layers leave part of the pixel uncovered.
  EXPECT_LT(compositeOver(128, 128), 255);
  for (int a = 0; a < 256; a += 5) {
    for (int b = 0; b < 256; b += 5) {
      const int over = compositeOver(uint8_t(a), uint8_t(b));
      ASSERT_GE(over, std::max(a, b));
      ASSERT_LE(over, std::min(255, a + b));
    }
  }
}

// Every pixel of the image composited once, clipped to the surface: the plain loop the fast
// paths of blitGlyph must agree with.
void referenceBlit(const GlyphImage& image, int32_t penX, int32_t baselineY,
                   std::vector<uint8_t>& surface, int32_t width, int32_t height) {
  for (int32_t y = 0; y < int32_t(image.height); ++y) {
    for (int32_t x = 0; x < int32_t(image.width); ++x) {
      const int32_t sx = penX + image.left + x, sy = baselineY - image.top + y;
      if (sx < 0 || sy < 0 || sx >= width || sy >= height) continue;
      uint8_t& pixel = surface[size_t(sy) * size_t(width) + size_t(sx)];
      pixel = compositeOver(pixel, image.pixels[size_t(y) * image.width + size_t(x)]);
    }
  }
}

TEST(BlitGlyph, MatchesPixelByPixelCompositingAtEveryWidthAndClip) {
  constexpr int32_t kWidth = 48, kHeight = 12;
  std::vector<uint8_t> under(size_t(kWidth) * kHeight);
  for (size_t i = 0; i < under.size(); ++i) under[i] = uint8_t(i * 37 % 7 == 0 ? 0 : i * 53 % 256);
  // Widths around one vector of lanes; every byte inked, so bytes of the next row that leaked in
  // past a row's end would show.
  for (uint32_t imageWidth : {1u, 2u, 7u, 15u, 16u, 17u, 31u, 40u, 60u}) {
    for (uint32_t imageHeight : {1u, 3u, 9u}) {
      std::vector<uint8_t> pixels(size_t(imageWidth) * imageHeight);
      for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(1 + i * 97 % 255);
      const GlyphImage image{2, 6, imageWidth, imageHeight, pixels.data()};
      for (int32_t penX : {-70, -20, -5, 0, 3, 20, 30, 33, 40, 46, 60}) {
        for (int32_t baselineY : {-5, 0, 4, 8, 14, 20}) {
          SCOPED_TRACE(::testing::Message()
                       << imageWidth << "x" << imageHeight << " at " << penX << "," << baselineY);
          std::vector<uint8_t> expected = under, actual = under;
          referenceBlit(image, penX, baselineY, expected, kWidth, kHeight);
          blitGlyph(image, penX, baselineY, {actual.data(), uint32_t(kWidth), uint32_t(kHeight)});
          ASSERT_EQ(actual, expected);
        }
      }
    }
  }
}

TEST(AreaResample, PreservesInkAndPlacesFractionalOffsets) {
  struct Case {
    const char* name;
    uint32_t width, height;
    float scale, offsetX, offsetY;
    uint32_t expectedWidth, expectedHeight;
  };
  const Case cases[] = {
      {"halve", 8, 8, 0.5f, 0, 0, 4, 4},
      {"quarter", 109, 109, 28.0f / 109, 0, 0, 28, 28},
      {"offset adds a column and a row", 8, 8, 0.5f, 0.5f, 0.25f, 5, 5},
      {"enlarge", 3, 2, 2.0f, 0, 0, 6, 4},
  };
  std::vector<float> scratch;
  std::vector<uint8_t> out;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> source(size_t(c.width) * c.height, 255);
    uint32_t width = 0, height = 0;
    resampleArea({source.data(), c.width, c.height, c.width}, c.scale, c.offsetX, c.offsetY,
                 scratch, out, &width, &height);
    EXPECT_EQ(width, c.expectedWidth);
    EXPECT_EQ(height, c.expectedHeight);
    ASSERT_EQ(out.size(), size_t(width) * height);
    double ink = 0;
    for (uint8_t v : out) ink += v;
    const double expectedInk = 255.0 * c.width * c.height * c.scale * c.scale;
    EXPECT_NEAR(ink, expectedInk, expectedInk * 0.01 + 255);
    if (c.offsetX == 0 && c.offsetY == 0) {
      EXPECT_EQ(out[0], 255);
    } else {
      EXPECT_LT(out[0], 255) << "the first column is partly covered";
    }
  }
}

// ---- FreeType bitmaps to coverage ----------------------------------------------------------

TEST(BitmapCoverage, EveryPixelModeAndDegenerateGrayDepths) {
  struct Case {
    const char* name;
    unsigned char mode;
    unsigned short numGrays;
    std::vector<uint8_t> row;  // one row
    unsigned width;
    bool converted;
    std::vector<uint8_t> coverage;
  };
  const Case cases[] = {
      {"gray 256", FT_PIXEL_MODE_GRAY, 256, {0, 7, 255}, 3, true, {0, 7, 255}},
      {"gray 16", FT_PIXEL_MODE_GRAY, 16, {0, 5, 15}, 3, true, {0, 85, 255}},
      {"gray 2", FT_PIXEL_MODE_GRAY, 2, {0, 1}, 2, true, {0, 255}},
      {"gray depth 1", FT_PIXEL_MODE_GRAY, 1, {0, 1, 9}, 3, true, {0, 255, 255}},
      {"gray depth 0", FT_PIXEL_MODE_GRAY, 0, {0, 3}, 2, true, {0, 255}},
      {"gray beyond its depth saturates", FT_PIXEL_MODE_GRAY, 16, {200}, 1, true, {255}},
      {"mono", FT_PIXEL_MODE_MONO, 0, {0xA0}, 4, true, {255, 0, 255, 0}},
      {"BGRA alpha", FT_PIXEL_MODE_BGRA, 0, {1, 2, 3, 40, 9, 9, 9, 200}, 2, true, {40, 200}},
      {"LCD is not coverage", FT_PIXEL_MODE_LCD, 256, {1, 2, 3}, 1, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> row = c.row;
    FT_Bitmap bitmap{};
    bitmap.rows = 1;
    bitmap.width = c.width;
    bitmap.pitch = int(row.size());
    bitmap.buffer = row.data();
    bitmap.num_grays = c.numGrays;
    bitmap.pixel_mode = c.mode;
    std::vector<uint8_t> coverage;
    ASSERT_EQ(bitmapCoverage(bitmap, coverage), c.converted);
    if (c.converted) {
      EXPECT_EQ(coverage, c.coverage);
    }
  }
}

// ---- Drawing real layouts ------------------------------------------------------------------

struct Ink {
  uint32_t left = UINT32_MAX, top = UINT32_MAX, right = 0, bottom = 0;  // right/bottom exclusive
  uint64_t total = 0;
  bool empty() const { return total == 0; }
};

struct Drawn {
  std::vector<uint8_t> pixels;
  uint32_t width = 0, height = 0;
  Ink ink;
};

class LinuxGraphicsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* path : {fixture::kDejaVuSans, fixture::kInterVariable, fixture::kNotoArabic,
                             fixture::kNotoDevanagari, fixture::kNotoColorEmoji}) {
      KFP_REQUIRE_INSTALLED_FONT(LinuxTextFixture::available(path), path);
    }
    graphics_ = createLinuxGraphics();
    ASSERT_TRUE(graphics_);
    dejaVu_ = fixture_.collection({{fixture::kDejaVuSans}});
    ASSERT_TRUE(dejaVu_);
  }

  // Draws like the core does: bitmap of width × ceil(height) DIPs at the scale, then its alpha.
  Drawn draw(const LinuxTextLayout& layout, float width, float scale) {
    TextMetrics metrics;
    EXPECT_TRUE(layout.getMetrics(&metrics));
    Drawn drawn;
    drawn.width = uint32_t(std::ceil(width * scale));
    drawn.height = uint32_t(std::ceil(std::max(metrics.height, 1.0f) * scale));
    auto bitmap = graphics_->createBitmap(drawn.width, drawn.height);
    EXPECT_TRUE(bitmap);
    if (!bitmap) return drawn;
    auto target = graphics_->createRenderTarget(*bitmap, 96 * scale);
    EXPECT_TRUE(target);
    if (!target) return drawn;
    target->setGrayscaleTextAntialiasing();
    EXPECT_TRUE(target->createOpaqueWhiteBrush());
    target->beginDraw();
    target->clear();
    target->drawTextLayout(layout);
    EXPECT_TRUE(target->endDraw());
    BitmapLock lock;
    EXPECT_TRUE(bitmap->lock(&lock));
    EXPECT_EQ(lock.bytesPerPixel, 1u);
    EXPECT_EQ(lock.alphaOffset, 0u);
    EXPECT_GE(lock.stride, drawn.width);
    drawn.pixels.resize(size_t(drawn.width) * drawn.height);
    for (uint32_t y = 0; y < drawn.height; ++y) {
      for (uint32_t x = 0; x < drawn.width; ++x) {
        const uint8_t v = lock.data[y * lock.stride + x * lock.bytesPerPixel + lock.alphaOffset];
        drawn.pixels[size_t(y) * drawn.width + x] = v;
        if (!v) continue;
        drawn.ink.total += v;
        drawn.ink.left = std::min(drawn.ink.left, x);
        drawn.ink.top = std::min(drawn.ink.top, y);
        drawn.ink.right = std::max(drawn.ink.right, x + 1);
        drawn.ink.bottom = std::max(drawn.ink.bottom, y + 1);
      }
    }
    return drawn;
  }

  Drawn drawText(std::u16string_view text, const TextFormat& format, float width, float scale) {
    auto layout = fixture_.layout(text, format, width);
    EXPECT_TRUE(layout);
    return layout ? draw(*layout, width, scale) : Drawn{};
  }

  std::unique_ptr<TextFormat> format(const char* path, std::u16string_view family,
                                     int weight = kNormalWeight, int style = kStyleNormal) {
    auto fonts = fixture_.collection({{path}});
    EXPECT_TRUE(fonts);
    return fonts ? fixture_.format(fonts, family, 28, weight, style) : nullptr;
  }

  LinuxTextFixture fixture_;
  std::shared_ptr<Graphics> graphics_;
  std::shared_ptr<const LinuxFontCollection> dejaVu_;
};

TEST_F(LinuxGraphicsTest, InkStaysInsideTheLayoutBoxAndScalesWithTheDpi) {
  auto format = fixture_.format(dejaVu_, u"DejaVu Sans", 28);
  ASSERT_TRUE(format);
  const std::u16string text = u"The quick brown fox jumps over the lazy dog 0123456789";
  const Drawn at1 = drawText(text, *format, 300, 1);
  ASSERT_FALSE(at1.ink.empty());
  for (float scale : {0.5f, 1.25f, 2.0f, 3.0f}) {
    SCOPED_TRACE(scale);
    const Drawn scaled = drawText(text, *format, 300, scale);
    ASSERT_FALSE(scaled.ink.empty());
    // Ink starts near the top-left corner (a glyph's side bearing and the ascent above caps) and
    // every edge of the box scales with the DPI.
    EXPECT_NEAR(scaled.ink.left, at1.ink.left * scale, 1.5 + scale);
    EXPECT_NEAR(scaled.ink.top, at1.ink.top * scale, 1.5 + scale);
    EXPECT_NEAR(scaled.ink.right, at1.ink.right * scale, 1.5 + scale);
    EXPECT_NEAR(scaled.ink.bottom, at1.ink.bottom * scale, 1.5 + scale);
    EXPECT_LE(scaled.ink.right, scaled.width);
    EXPECT_LE(scaled.ink.bottom, scaled.height);
  }
  // At scale 1: three lines of 28-DIP DejaVu, first ink near the top-left corner.
  EXPECT_LE(at1.ink.left, 3u);
  EXPECT_GE(at1.ink.top, 2u);
  EXPECT_LE(at1.ink.top, 8u);
  EXPECT_GT(at1.ink.right, 200u);
}

TEST_F(LinuxGraphicsTest, EveryScriptAndColourFontGivesCoverage) {
  struct Case {
    const char* name;
    const char* path;
    std::u16string family;
    std::u16string text;
    uint32_t minimumInkWidth;
  };
  const Case cases[] = {
      {"Latin", fixture::kDejaVuSans, u"DejaVu Sans", u"Hamburg", 90},
      {"Arabic", fixture::kNotoArabic, u"Noto Sans Arabic", u"\u0633\u0644\u0627\u0645", 30},
      {"Devanagari", fixture::kNotoDevanagari, u"Noto Sans Devanagari",
       u"\u0928\u092E\u0938\u094D\u0924\u0947", 50},
      {"CBDT emoji", fixture::kNotoColorEmoji, u"Noto Color Emoji", u"\U0001F600\U0001F680", 45},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto fmt = format(c.path, c.family);
    ASSERT_TRUE(fmt);
    const Drawn drawn = drawText(c.text, *fmt, 300, 1);
    ASSERT_FALSE(drawn.ink.empty());
    EXPECT_GE(drawn.ink.right - drawn.ink.left, c.minimumInkWidth);
    EXPECT_LE(drawn.ink.bottom - drawn.ink.top, 50u) << "drawn at 28 px, not at the strike size";
  }
  // An emoji covers roughly one em, most of it opaque.
  auto emoji = format(fixture::kNotoColorEmoji, u"Noto Color Emoji");
  ASSERT_TRUE(emoji);
  const Drawn face = drawText(u"\U0001F600", *emoji, 300, 1);
  EXPECT_NEAR(face.ink.bottom - face.ink.top, 28 * 0.95, 4);
  EXPECT_GT(face.ink.total, 255u * 28 * 28 / 2);
}

TEST_F(LinuxGraphicsTest, SimulationsChangeTheInk) {
  auto regular = fixture_.format(dejaVu_, u"DejaVu Sans", 28);
  auto bold = fixture_.format(dejaVu_, u"DejaVu Sans", 28, 700);
  auto italic = fixture_.format(dejaVu_, u"DejaVu Sans", 28, 400, kStyleItalic);
  ASSERT_TRUE(regular && bold && italic);
  const Drawn plain = drawText(u"lllll", *regular, 300, 1);
  const Drawn heavy = drawText(u"lllll", *bold, 300, 1);
  const Drawn slanted = drawText(u"lllll", *italic, 300, 1);
  EXPECT_GT(heavy.ink.total, plain.ink.total * 5 / 4);
  EXPECT_NEAR(double(slanted.ink.total), double(plain.ink.total), plain.ink.total * 0.05)
      << "a shear moves ink, it does not add any";
  // Upright stems cover whole columns; slanted ones spread over more columns.
  EXPECT_GT(slanted.ink.right - slanted.ink.left, plain.ink.right - plain.ink.left + 3);
  EXPECT_EQ(slanted.ink.top, plain.ink.top);
}

TEST_F(LinuxGraphicsTest, AxisValuesReachTheSharedFaceForEveryDraw) {
  auto inter = fixture_.collection({{fixture::kInterVariable}});
  ASSERT_TRUE(inter);
  auto drawAt = [&](float weight) {
    auto fmt = fixture_.format(inter, u"Inter", 28);
    const AxisValue value{kWghtTag, weight};
    EXPECT_TRUE(fmt && fmt->setFontAxisValues({&value, 1}));
    return fmt ? drawText(u"Hamburgefonts", *fmt, 400, 1) : Drawn{};
  };
  const Drawn black = drawAt(900);
  const Drawn thin = drawAt(100);
  const Drawn blackAgain = drawAt(900);
  EXPECT_GT(black.ink.total, thin.ink.total * 2);
  EXPECT_EQ(black.pixels, blackAgain.pixels) << "the face's coordinates follow each draw";
}

TEST_F(LinuxGraphicsTest, CachedGlyphsDrawExactlyAsFreshOnes) {
  auto fmt = fixture_.format(dejaVu_, u"DejaVu Sans", 28);
  ASSERT_TRUE(fmt);
  const std::u16string text = u"Cache me twice, cache me thrice";
  for (float scale : {1.0f, 1.5f}) {
    SCOPED_TRACE(scale);
    const Drawn first = drawText(text, *fmt, 300, scale);
    const Drawn second = drawText(text, *fmt, 300, scale);
    EXPECT_FALSE(first.ink.empty());
    EXPECT_EQ(first.pixels, second.pixels);
  }
}

TEST_F(LinuxGraphicsTest, BitmapsStartTransparentAndNeverShareLivePixels) {
  auto fmt = fixture_.format(dejaVu_, u"DejaVu Sans", 28);
  ASSERT_TRUE(fmt);
  auto layout = fixture_.layout(u"Ink", *fmt, 100);
  ASSERT_TRUE(layout);
  ASSERT_FALSE(draw(*layout, 100, 1).ink.empty());

  // The buffer the previous bitmap drew into is reused, cleared.
  auto reused = graphics_->createBitmap(100, 40);
  ASSERT_TRUE(reused);
  BitmapLock lock;
  ASSERT_TRUE(reused->lock(&lock));
  EXPECT_TRUE(std::all_of(lock.data, lock.data + 100 * 40, [](uint8_t v) { return v == 0; }));

  // A second live bitmap gets its own pixels: drawing into it leaves the first untouched.
  auto other = graphics_->createBitmap(100, 40);
  ASSERT_TRUE(other);
  auto target = graphics_->createRenderTarget(*other, 96);
  ASSERT_TRUE(target);
  target->beginDraw();
  target->clear();
  target->drawTextLayout(*layout);
  target->endDraw();
  BitmapLock otherLock;
  ASSERT_TRUE(other->lock(&otherLock));
  EXPECT_NE(otherLock.data, lock.data);
  EXPECT_TRUE(std::any_of(otherLock.data, otherLock.data + 100 * 40, [](uint8_t v) { return v; }));
  EXPECT_TRUE(std::all_of(lock.data, lock.data + 100 * 40, [](uint8_t v) { return v == 0; }));
}

TEST_F(LinuxGraphicsTest, GlyphsOutsideTheBitmapAreClipped) {
  auto fmt = fixture_.format(dejaVu_, u"DejaVu Sans", 28);
  ASSERT_TRUE(fmt);
  // Lines below the bitmap and text past its right edge are clipped, not written out of bounds.
  auto layout = fixture_.layout(u"WWWWWWWWWWWW\nWWWW\nWWWW\nWWWW", *fmt, 8000);
  ASSERT_TRUE(layout);
  auto bitmap = graphics_->createBitmap(50, 20);
  auto target = graphics_->createRenderTarget(*bitmap, 96);
  ASSERT_TRUE(target);
  target->beginDraw();
  target->clear();
  target->drawTextLayout(*layout);
  EXPECT_TRUE(target->endDraw());
  BitmapLock lock;
  ASSERT_TRUE(bitmap->lock(&lock));
  EXPECT_TRUE(std::any_of(lock.data, lock.data + 50 * 20, [](uint8_t v) { return v; }));
}

TEST_F(LinuxGraphicsTest, GlyphsLeftOfOrAboveTheBitmapAreClippedInPlace) {
  auto fmt = fixture_.format(dejaVu_, u"DejaVu Sans", 28);
  ASSERT_TRUE(fmt);
  auto layout = fixture_.layout(u"WMW", *fmt, 300);
  ASSERT_TRUE(layout);
  constexpr uint32_t kWidth = 80, kHeight = 40;
  auto drawShifted = [&](float dx, float dy) {
    LinuxTextLayout shifted = *layout;
    for (PositionedGlyph& glyph : shifted.glyphs) {
      glyph.x += dx;
      glyph.y += dy;
    }
    std::vector<uint8_t> pixels(kWidth * kHeight);
    GlyphRasterizer rasterizer;
    drawLayout(shifted, 1, rasterizer, {pixels.data(), kWidth, kHeight});
    return pixels;
  };
  const std::vector<uint8_t> reference = drawShifted(0, 0);
  ASSERT_TRUE(std::any_of(reference.begin(), reference.end(), [](uint8_t v) { return v; }));
  struct Case {
    const char* name;
    int dx, dy;
  };
  const Case cases[] = {{"left", -13, 0}, {"above", 0, -9}, {"left and above", -21, -5}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> pixels = drawShifted(float(c.dx), float(c.dy));
    for (uint32_t y = 0; y < kHeight; ++y) {
      for (uint32_t x = 0; x < kWidth; ++x) {
        const int64_t sx = int64_t(x) - c.dx, sy = int64_t(y) - c.dy;
        const uint8_t expected =
            sx < kWidth && sy < kHeight ? reference[size_t(sy) * kWidth + size_t(sx)] : 0;
        ASSERT_EQ(pixels[size_t(y) * kWidth + x], expected) << x << "," << y;
      }
    }
  }
}

TEST_F(LinuxGraphicsTest, TabsAndControlCharactersDrawNoInk) {
  auto fmt = fixture_.format(dejaVu_, u"DejaVu Sans", 28);
  ASSERT_TRUE(fmt);
  struct Case {
    const char* name;
    std::u16string text;
    std::u16string same;  // draws exactly like text
  };
  const Case cases[] = {
      {"tab", u"\t", u""},
      {"controls", u"\u0001\u0007\u001B\u007F\u0090", u""},
      {"controls between letters", u"a\u0002b\u0003", u"ab"},
  };
  const Drawn blank = drawText(u"", *fmt, 300, 1);
  ASSERT_TRUE(blank.ink.empty());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Drawn drawn = drawText(c.text, *fmt, 300, 1);
    EXPECT_EQ(drawn.pixels, drawText(c.same, *fmt, 300, 1).pixels);
  }
  // A letter after a tab is drawn at the first tab stop, four font sizes in.
  const Drawn tabbed = drawText(u"\tW", *fmt, 300, 1);
  ASSERT_FALSE(tabbed.ink.empty());
  EXPECT_GE(tabbed.ink.left, 4 * 28 - 2u);
}

TEST_F(LinuxGraphicsTest, GlyphCacheStaysBoundedWhenEveryImageIsEmpty) {
  // A fresh face, so nothing else has used its cache.
  auto fonts = fixture_.collection({{fixture::kDejaVuSans}});
  ASSERT_TRUE(fonts);
  auto fmt = fixture_.format(fonts, u"DejaVu Sans", 28);
  ASSERT_TRUE(fmt);
  auto layout = fixture_.layout(u" ", *fmt, 100);
  ASSERT_TRUE(layout && layout->face);
  GlyphCache& cache = layout->face->glyphCache();
  const size_t before = cache.memoryBytes();
  // Spaces at every size a host might sweep through take no pixels but one entry each.
  const GlyphImage empty{};
  uint64_t last = 0;
  for (uint32_t size = 1; size <= 200000; ++size) {
    last = GlyphCache::imageKey(3, size, 0, size % kSubpixelPhases, 0);
    cache.insert(last, empty);
  }
  EXPECT_LE(cache.memoryBytes(), before + 128 * 1024);
  GlyphImage found;
  ASSERT_TRUE(cache.find(last, &found)) << "the newest entry survives a restart";
  EXPECT_EQ(found.width * found.height, 0u);
}

}  // namespace
}  // namespace kfp::linux_backend
