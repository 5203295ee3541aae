// The GDI path end to end on the platform: the face check, text metrics and extents in pixels,
// line breaking on real extents, and drawing into a DIB section.
#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "fonts/resolved_font.h"
#include "layout/gdi_layout.h"
#include "platform/windows/windows_backend.h"
#include "raster/rasterize_layout.h"
#include "support/installed_fonts.h"
#include "windows/windows_test_support.h"

namespace kfp {
namespace {

// DejaVu Sans: winAscent 1901 and winDescent 483 in 2048 units per em.
float dejaVuCellHeight(float pixelSize) {
  return (1901.0f + 483.0f) / 2048.0f * pixelSize;
}

class WindowsGdiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KFP_REQUIRE_INSTALLED_FONT(createGdiFont(gdi(), u"DejaVu Sans", 400, false, 28, 1),
                               "DejaVu Sans");
  }
  Gdi& gdi() { return backend_->gdi(); }

  // A device context with a DejaVu Sans font of `pixels` pixels selected.
  struct Selected {
    std::unique_ptr<GdiFont> font;
    std::unique_ptr<GdiDeviceContext> dc;
  };
  Selected select(float fontSize, float dpiScale, int weight = 400) {
    Selected s;
    s.font = createGdiFont(gdi(), u"DejaVu Sans", weight, false, fontSize, dpiScale);
    s.dc = gdi().createCompatibleDC();
    if (!s.font || !s.dc || !s.dc->selectFont(*s.font)) return {};
    return s;
  }

  // The smallest extent in pixels at which the whole run fits; -1 on failure.
  static int extentOf(GdiDeviceContext& dc, std::u16string_view text) {
    const int count = static_cast<int>(text.size());
    for (int extent = 0; extent < 4096; ++extent) {
      int fit = -1;
      if (!dc.getTextExtentExPoint(text.data(), count, extent, &fit)) return -1;
      if (fit == count) return extent;
    }
    return -1;
  }

  std::unique_ptr<Backend> backend_ = createWindowsBackend();
};

TEST_F(WindowsGdiTest, FaceCheckRejectsSilentSubstitutes) {
  struct Row {
    std::u16string_view name;
    bool accepted;
  };
  const Row rows[] = {
      {u"DejaVu Sans", true},
      {u"dejavu SANS", true},  // GDI reports its own spelling; case does not matter
      {u"DejaVu Sans Mono", true},
      {u"No Such Face Anywhere", false},
      {u"DejaVu", false},
      {u"DejaVu Sans Mono Sans Mono Sans", false},  // 31 code units, unknown: tried and refused
      {u"", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.name.begin(), row.name.end()));
    EXPECT_EQ(createGdiFont(gdi(), row.name, 400, false, 28, 1) != nullptr, row.accepted);
  }
}

TEST_F(WindowsGdiTest, UnknownFaceIsSubstitutedWithoutFailing) {
  // GDI hands out a font for any name and says which face it chose: the seam must pass both on.
  GdiFontRequest request;
  request.height = -28;
  request.faceName = u"No Such Face Anywhere";
  std::unique_ptr<GdiFont> font = gdi().createFont(request);
  ASSERT_TRUE(font);
  std::unique_ptr<GdiDeviceContext> dc = gdi().createCompatibleDC();
  ASSERT_TRUE(dc);
  ASSERT_TRUE(dc->selectFont(*font));
  char16_t face[32] = {};
  const int copied = dc->getTextFace(face, 32);
  dc->restoreFont();
  ASSERT_GT(copied, 0);
  EXPECT_NE(std::u16string(face), u"No Such Face Anywhere");
  EXPECT_FALSE(std::u16string(face).empty());
}

TEST_F(WindowsGdiTest, EqualIgnoringCaseIsOrdinal) {
  struct Row {
    std::u16string_view a;
    std::u16string_view b;
    bool equal;
  };
  const Row rows[] = {{u"Arial", u"ARIAL", true},
                      {u"Arial", u"Arial ", false},
                      {u"\u00e9", u"\u00c9", true},
                      {u"e", u"\u00e9", false},
                      {u"", u"", true},
                      {std::u16string_view(), u"", true},
                      {u"", u"a", false},
                      {u"Ari", u"Arial", false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.a.begin(), row.a.end()));
    EXPECT_EQ(gdi().equalIgnoringCase(row.a, row.b), row.equal);
  }
}

TEST_F(WindowsGdiTest, MetricsAreInPixelsOfTheRequestedSize) {
  struct Row {
    float fontSize;
    float dpiScale;
  };
  const Row rows[] = {{28, 1}, {28, 2}, {12, 1}, {100, 1.5f}};
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.fontSize) + " x " + std::to_string(row.dpiScale));
    Selected s = select(row.fontSize, row.dpiScale);
    ASSERT_TRUE(s.dc);
    GdiTextMetrics metrics;
    ASSERT_TRUE(s.dc->getTextMetrics(&metrics));
    const float pixels = std::ceil(row.fontSize * row.dpiScale);
    // Ascent and descent are rounded to whole pixels each.
    EXPECT_NEAR(metrics.height, dejaVuCellHeight(pixels), 1.0f);
    EXPECT_GE(metrics.externalLeading, 0);
    EXPECT_LE(metrics.externalLeading, 1);
    s.dc->restoreFont();
  }
}

TEST_F(WindowsGdiTest, ExtentsCountWhatFitsInPixels) {
  Selected small = select(28, 1);
  Selected large = select(28, 2);
  ASSERT_TRUE(small.dc && large.dc);
  const int letter = extentOf(*small.dc, u"i");
  const int wide = extentOf(*small.dc, u"M");
  ASSERT_GT(letter, 0);
  EXPECT_GT(wide, letter);
  // Twice the pixel size, twice the advance (each advance rounds to a whole pixel).
  EXPECT_NEAR(extentOf(*large.dc, u"M"), 2 * wide, 2);

  const std::u16string text = u"iiiiiiiiii";
  struct Row {
    int extent;
    int fit;
  };
  const Row rows[] = {{0, 0}, {letter - 1, 0}, {letter, 1}, {3 * letter, 3}, {100000, 10}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.extent);
    int fit = -1;
    ASSERT_TRUE(small.dc->getTextExtentExPoint(text.data(), int(text.size()), row.extent, &fit));
    EXPECT_EQ(fit, row.fit);
  }
}

TEST_F(WindowsGdiTest, LinesBreakOnRealExtents) {
  Selected s = select(28, 1);
  ASSERT_TRUE(s.dc);
  const int oneWord = extentOf(*s.dc, u"word");
  const int twoWords = extentOf(*s.dc, u"word word");
  const int twoWordsAndSpace = extentOf(*s.dc, u"word word ");
  ASSERT_GT(oneWord, 0);
  ASSERT_LT(twoWords, twoWordsAndSpace);
  GdiTextMetrics metrics;
  ASSERT_TRUE(s.dc->getTextMetrics(&metrics));
  struct Row {
    std::u16string_view text;
    int width;
    std::vector<GdiLine> lines;
  };
  const Row rows[] = {
      {u"word word word", twoWordsAndSpace, {{0, 9}, {10, 4}}},
      // A word ending exactly where the fit ends moves on when an earlier space exists.
      {u"word word word", twoWords, {{0, 4}, {5, 9}}},
      {u"word word word", oneWord, {{0, 4}, {5, 4}, {10, 4}}},
      {u"wordword", oneWord, {{0, 4}, {4, 4}}},
      {u"word\n\nword", 1000, {{0, 4}, {5, 0}, {6, 4}}},
      {u"", 1000, {{0, 0}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.text.begin(), row.text.end()) + " in " +
                 std::to_string(row.width));
    GdiLines lines;
    ASSERT_TRUE(breakGdiLines(*s.dc, row.text, row.width, &lines));
    EXPECT_EQ(lines.lines, row.lines);
    EXPECT_EQ(lines.lineHeight, metrics.height + metrics.externalLeading);
  }
  s.dc->restoreFont();
}

TEST_F(WindowsGdiTest, MeasuresAndDrawsIntoADibSection) {
  ResolvedFont entry;
  entry.found = true;
  entry.kind = FontKind::kGdi;
  entry.familyName = u"DejaVu Sans";
  struct Row {
    float dpiScale;
  };
  for (const Row row : {Row{1.0f}, Row{2.0f}}) {
    SCOPED_TRACE(row.dpiScale);
    const LayoutResult layout = measureGdiLayout(gdi(), entry, u"H\n\nH", 28, 300, row.dpiScale);
    ASSERT_TRUE(layout.resolved) << layout.error;
    EXPECT_EQ(layout.lineCount, 3u);
    std::vector<uint8_t> pixels;
    uint32_t width = 0;
    uint32_t height = 0;
    ASSERT_TRUE(rasterizeGdiLayout(gdi(), layout, pixels, width, height));
    EXPECT_EQ(width, uint32_t(300 * row.dpiScale));
    ASSERT_EQ(height % 3, 0u);
    ASSERT_EQ(pixels.size(), size_t{width} * height);
    const uint32_t band = height / 3;
    EXPECT_NEAR(float(band), dejaVuCellHeight(28 * row.dpiScale), 1.5f);
    // Ink of an H in the first and third bands, within the letter's width; the empty middle line
    // and everything right of the letter stay clear.
    const uint32_t letterRight = uint32_t(std::ceil(28 * row.dpiScale));
    for (uint32_t y = 0; y < height; ++y) {
      const uint8_t* rowStart = pixels.data() + size_t{y} * width;
      const uint8_t rowMax = *std::max_element(rowStart, rowStart + width);
      const uint8_t rightMax = *std::max_element(rowStart + letterRight, rowStart + width);
      EXPECT_EQ(rightMax, 0) << "row " << y;
      if (y >= band && y < 2 * band) {
        EXPECT_EQ(rowMax, 0) << "row " << y;
      }
    }
    for (uint32_t line : {0u, 2u}) {
      const uint8_t* start = pixels.data() + size_t{line * band} * width;
      EXPECT_EQ(*std::max_element(start, start + size_t{band} * width), 255) << "line " << line;
    }
  }
}

TEST_F(WindowsGdiTest, DibSectionIsTopDownAndTightlyPacked) {
  std::unique_ptr<GdiDeviceContext> dc = gdi().createCompatibleDC();
  ASSERT_TRUE(dc);
  EXPECT_EQ(gdi().createDibSection(*dc, 0, 10), nullptr);
  std::unique_ptr<GdiBitmap> bitmap = gdi().createDibSection(*dc, 7, 5);
  ASSERT_TRUE(bitmap && bitmap->pixels());
  std::fill_n(bitmap->pixels(), 7 * 5 * 4, uint8_t{0xFF});
  Selected s = select(28, 1);
  ASSERT_TRUE(s.font);
  ASSERT_TRUE(dc->selectBitmap(*bitmap));
  ASSERT_TRUE(dc->selectFont(*s.font));
  dc->setTransparentBackground();
  dc->setTextColor(0x000000);
  // A full-block glyph from the cell's top-left corner darkens the first row's first pixel,
  // which a bottom-up or padded surface would put elsewhere.
  ASSERT_TRUE(dc->textOut(0, 0, u"\u2588", 1));
  dc->flush();
  dc->restoreFont();
  dc->restoreBitmap();
  EXPECT_LT(bitmap->pixels()[0], 0x80);
  EXPECT_LT(bitmap->pixels()[4 * 7 * 4], 0x80);  // first pixel of the last row
}

}  // namespace
}  // namespace kfp
