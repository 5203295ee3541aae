#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>

#include "layout/gdi_layout.h"
#include "platform/linux/gdi/gdi.h"
#include "platform/linux/gdi/gdi_face_choice.h"
#include "platform/linux/gdi/gdi_glyph_bitmap.h"
#include "raster/rasterize_layout.h"

namespace kfp::linux_backend {
namespace {

// The installed fonts are walked once for the whole suite.
class LinuxGdiTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    index_ = FontIndex::build();
    gdi_ = createLinuxGdi(FaceStore::create(), index_).release();
  }
  static void TearDownTestSuite() {
    delete gdi_;
    gdi_ = nullptr;
    index_.reset();
  }
  void SetUp() override { ASSERT_NE(index_, nullptr); }

  // A context with the family selected at the given pixel size, or nullptr.
  struct Selected {
    std::unique_ptr<GdiFont> font;
    std::unique_ptr<GdiDeviceContext> dc;
  };
  static Selected select(std::u16string_view family, float pixels, int weight = 400) {
    Selected s;
    s.font = createGdiFont(*gdi_, family, weight, false, pixels, 1);
    s.dc = gdi_->createCompatibleDC();
    if (!s.font || !s.dc || !s.dc->selectFont(*s.font)) return {};
    return s;
  }

  static std::shared_ptr<FontIndex> index_;
  static Gdi* gdi_;
};

std::shared_ptr<FontIndex> LinuxGdiTest::index_;
Gdi* LinuxGdiTest::gdi_ = nullptr;

TEST_F(LinuxGdiTest, FaceCheckOnInstalledFamilies) {
  const struct {
    std::u16string family;
    bool accepted;
  } kCases[] = {
      {u"Terminus", true},    {u"terminus", true}, {u"TERMINUS", true},
      {u"DejaVu Sans", true}, {u"Terminu", false}, {u"No Such Family Kfp", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.family.begin(), c.family.end()));
    EXPECT_EQ(createGdiFont(*gdi_, c.family, 400, false, 16, 1) != nullptr, c.accepted);
  }
}

TEST_F(LinuxGdiTest, UnknownFamilyYieldsANamedSubstitute) {
  GdiFontRequest request;
  request.height = -16;
  request.faceName = u"No Such Family Kfp";
  std::unique_ptr<GdiFont> font = gdi_->createFont(request);
  ASSERT_NE(font, nullptr);
  std::unique_ptr<GdiDeviceContext> dc = gdi_->createCompatibleDC();
  ASSERT_TRUE(dc->selectFont(*font));
  std::array<char16_t, 32> face{};
  const int copied = dc->getTextFace(face.data(), int(face.size()));
  ASSERT_GT(copied, 1);
  EXPECT_NE(std::u16string(face.data()), request.faceName);
  dc->restoreFont();
}

TEST_F(LinuxGdiTest, SubstituteOpensWhenUsed) {
  GdiFontRequest request;
  request.height = -20;
  request.faceName = u"No Such Family Kfp";
  std::unique_ptr<GdiFont> font = gdi_->createFont(request);
  ASSERT_NE(font, nullptr);
  std::unique_ptr<GdiDeviceContext> dc = gdi_->createCompatibleDC();
  ASSERT_TRUE(dc->selectFont(*font));
  GdiTextMetrics metrics;
  ASSERT_TRUE(dc->getTextMetrics(&metrics));
  EXPECT_GE(metrics.height, 20);
  int fit = -1;
  ASSERT_TRUE(dc->getTextExtentExPoint(u"Hello", 5, 1000, &fit));
  EXPECT_EQ(fit, 5);
  std::unique_ptr<GdiBitmap> dib = gdi_->createDibSection(*dc, 100, 40);
  ASSERT_NE(dib, nullptr);
  ASSERT_TRUE(dc->selectBitmap(*dib));
  std::fill_n(dib->pixels(), 100 * 40 * 4, 0xFF);
  ASSERT_TRUE(dc->textOut(0, 0, u"Hello", 5));
  EXPECT_GT(std::count(dib->pixels(), dib->pixels() + 100 * 40 * 4, 0), 0);
  dc->restoreBitmap();
  dc->restoreFont();
}

// With faces whose files are gone: the requested family's face fails at creation, a substitute
// (which the core only checks by name) is handed out without touching its file.
TEST(LinuxGdiMissingFiles, SubstituteIsNamedWithoutOpeningItsFace) {
  auto record = [](std::u16string family) {
    FontRecord r;
    r.path = "/nonexistent/kfp/" + std::string(family.begin(), family.end()) + ".ttf";
    r.win32FamilyNames = {{u"en-us", family}};
    r.typographicFamilyNames = r.win32FamilyNames;
    return r;
  };
  const std::shared_ptr<FontIndex> index =
      FontIndex::fromRecords({record(u"Gone"), record(u"Sans Gone")}, {u"Sans Gone"});
  std::unique_ptr<Gdi> gdi = createLinuxGdi(FaceStore::create(), index);
  const struct {
    std::u16string requested;
    std::u16string face;  // empty: no font
  } kCases[] = {
      {u"Gone", u""},
      {u"sans gone", u""},
      {u"Unknown", u"Sans Gone"},
      {u"Other Unknown", u"Sans Gone"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.requested.begin(), c.requested.end()));
    GdiFontRequest request;
    request.height = -16;
    request.faceName = c.requested;
    std::unique_ptr<GdiFont> font = gdi->createFont(request);
    ASSERT_EQ(font != nullptr, !c.face.empty());
    if (!font) continue;
    std::unique_ptr<GdiDeviceContext> dc = gdi->createCompatibleDC();
    ASSERT_TRUE(dc->selectFont(*font));
    std::array<char16_t, 32> face{};
    ASSERT_GT(dc->getTextFace(face.data(), int(face.size())), 1);
    EXPECT_EQ(std::u16string(face.data()), c.face);
    // Used after all, the face fails as the query's failure.
    GdiTextMetrics metrics;
    EXPECT_FALSE(dc->getTextMetrics(&metrics));
    int fit = -1;
    EXPECT_FALSE(dc->getTextExtentExPoint(u"ab", 2, 100, &fit));
    dc->restoreFont();
  }
}

TEST(GdiGlyphBitmap, GrayLevelsSpanTheFullCoverageRange) {
  const struct {
    unsigned char pixelMode;
    unsigned short numGrays;
    uint8_t value;
    uint8_t coverage;
  } kCases[] = {
      {FT_PIXEL_MODE_GRAY, 256, 0, 0},     {FT_PIXEL_MODE_GRAY, 256, 128, 128},
      {FT_PIXEL_MODE_GRAY, 256, 255, 255}, {FT_PIXEL_MODE_GRAY, 4, 1, 85},
      {FT_PIXEL_MODE_GRAY, 4, 2, 170},     {FT_PIXEL_MODE_GRAY, 4, 3, 255},
      {FT_PIXEL_MODE_GRAY, 16, 8, 136},    {FT_PIXEL_MODE_GRAY, 16, 15, 255},
      {FT_PIXEL_MODE_GRAY, 8, 2, 73},      {FT_PIXEL_MODE_GRAY, 128, 64, 129},  // 72.9, 128.5
      {FT_PIXEL_MODE_GRAY, 2, 1, 255},     {FT_PIXEL_MODE_GRAY, 4, 9, 255},  // out of range: full
      {FT_PIXEL_MODE_GRAY, 1, 200, 200},   {FT_PIXEL_MODE_GRAY, 0, 77, 77},  // no range: as is
      {FT_PIXEL_MODE_MONO, 2, 0x80, 255},  {FT_PIXEL_MODE_MONO, 2, 0x7F, 0},
      {FT_PIXEL_MODE_LCD, 256, 255, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::Message()
                 << int(c.pixelMode) << " " << c.numGrays << " " << int(c.value));
    unsigned char buffer[1] = {c.value};
    FT_Bitmap bitmap{};
    bitmap.rows = 1;
    bitmap.width = 1;
    bitmap.pitch = 1;
    bitmap.buffer = buffer;
    bitmap.pixel_mode = c.pixelMode;
    bitmap.num_grays = c.numGrays;
    EXPECT_EQ(glyphCoverage(bitmap, 0, 0), c.coverage);
  }
}

// Drawn black on white, packed 2- and 4-bit strikes and widened gray levels reach full ink.
TEST(GdiGlyphBitmap, BlitsEveryGrayFormatAtFullStrength) {
  const std::shared_ptr<FreeTypeLibrary> library = FreeTypeLibrary::create();
  ASSERT_NE(library, nullptr);
  const struct {
    const char* name;
    unsigned char pixelMode;
    unsigned short numGrays;
    unsigned char packed;  // the first pixel's bits, then zeros
    uint8_t drawn;         // the first pixel's blue, green and red afterwards
  } kCases[] = {
      {"gray2 full", FT_PIXEL_MODE_GRAY2, 4, 0xC0, 0},
      {"gray2 third", FT_PIXEL_MODE_GRAY2, 4, 0x40, 170},
      {"gray4 full", FT_PIXEL_MODE_GRAY4, 16, 0xF0, 0},
      {"gray 4 levels", FT_PIXEL_MODE_GRAY, 4, 3, 0},
      {"gray 16 levels", FT_PIXEL_MODE_GRAY, 16, 15, 0},
      {"gray 256 levels", FT_PIXEL_MODE_GRAY, 256, 255, 0},
      {"mono", FT_PIXEL_MODE_MONO, 2, 0x80, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    unsigned char buffer[4] = {c.packed, 0, 0, 0};
    FT_Bitmap bitmap{};
    bitmap.rows = 1;
    bitmap.width = 2;
    bitmap.pitch = 4;
    bitmap.buffer = buffer;
    bitmap.pixel_mode = c.pixelMode;
    bitmap.num_grays = c.numGrays;
    std::array<uint8_t, 3 * 4> pixels;
    pixels.fill(0xFF);
    blitGlyph(library->get(), bitmap, 1, 0, 0x000000, {pixels.data(), 3, 1});
    EXPECT_EQ((std::array<uint8_t, 3>{pixels[0], pixels[1], pixels[2]}),
              (std::array<uint8_t, 3>{255, 255, 255}));
    EXPECT_EQ((std::array<uint8_t, 3>{pixels[4], pixels[5], pixels[6]}),
              (std::array<uint8_t, 3>{c.drawn, c.drawn, c.drawn}));
    EXPECT_EQ((std::array<uint8_t, 3>{pixels[8], pixels[9], pixels[10]}),
              (std::array<uint8_t, 3>{255, 255, 255}));
  }
}

TEST(GdiGlyphBitmap, NearestStrikeComparesLikeWithLike) {
  auto strike = [](short height, int ppem) {
    FT_Bitmap_Size size{};
    size.height = height;
    size.width = short(ppem / 2);
    size.y_ppem = FT_Pos(ppem) << 6;
    size.x_ppem = size.y_ppem;
    return size;
  };
  // Cells taller than the em, and not in the same order: ppem 12 has the 16-pixel cell.
  const std::vector<FT_Bitmap_Size> strikes = {strike(16, 12), strike(15, 14), strike(20, 18)};
  const struct {
    int wanted;
    bool byCell;
    int strike;
  } kCases[] = {
      {13, false, 0},  // ppem 12 and 14 tie: the smaller ppem, not the smaller cell
      {12, false, 0}, {14, false, 1}, {16, false, 1}, {100, false, 2}, {1, false, 0},
      {16, true, 0},  {15, true, 1},  {18, true, 0},  // cells 16 and 20 tie: the smaller cell
      {14, true, 1},  {30, true, 2},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::Message() << c.wanted << (c.byCell ? " cell" : " ppem"));
    EXPECT_EQ(nearestStrike(strikes, c.wanted, c.byCell), c.strike);
  }
  EXPECT_EQ(nearestStrike({}, 16, false), -1);
}

TEST_F(LinuxGdiTest, CellMetrics) {
  const struct {
    std::u16string family;
    float pixels;
    int32_t height;  // 0: only positive and at least the pixel size
    int32_t externalLeading;
  } kCases[] = {
      {u"Terminus", 16, 16, 0},       // the 16-pixel strike: ascent 12, descent 4
      {u"Terminus", 56, 32, 0},       // nearest strike is the largest, 32
      {u"Terminus", 13, 12, 0},       // nearest of 12 and 14 on a tie: the smaller
      {u"DejaVu Sans", 100, 117, 0},  // win ascent 1901 + descent 483 at 100/2048
      {u"DejaVu Sans", 12, 0, 0},
      // Win 1034 + 520 and hhea 1069 + 520 + 0 at 100/1000: the hhea spacing beyond the cell
      // leads, although the hhea line gap is 0.
      {u"Noto Sans Tai Tham", 100, 155, 4},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.pixels);
    Selected s = select(c.family, c.pixels);
    ASSERT_NE(s.dc, nullptr);
    GdiTextMetrics metrics;
    ASSERT_TRUE(s.dc->getTextMetrics(&metrics));
    if (c.height != 0) {
      EXPECT_EQ(metrics.height, c.height);
    } else {
      EXPECT_GE(metrics.height, int32_t(c.pixels));
    }
    EXPECT_EQ(metrics.externalLeading, c.externalLeading);
    s.dc->restoreFont();
  }
}

TEST_F(LinuxGdiTest, FitCounts) {
  const std::u16string text = u"The quick brown fox \U0001F600 jumps";
  const struct {
    std::u16string family;
    float pixels;
  } kCases[] = {{u"Terminus", 16}, {u"Terminus", 32}, {u"DejaVu Sans", 20}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.pixels);
    Selected s = select(c.family, c.pixels);
    ASSERT_NE(s.dc, nullptr);
    int previous = 0;
    for (int extent = 0; extent <= 2000; extent += 7) {
      int fit = -1;
      ASSERT_TRUE(s.dc->getTextExtentExPoint(text.data(), int(text.size()), extent, &fit));
      EXPECT_GE(fit, previous);
      EXPECT_LE(fit, int(text.size()));
      EXPECT_NE(fit, 21) << "the surrogate pair was split";
      previous = fit;
    }
    EXPECT_EQ(previous, int(text.size()));
    s.dc->restoreFont();
  }
}

TEST_F(LinuxGdiTest, TerminusIsMonospaced) {
  const struct {
    float pixels;
    int cellWidth;
  } kCases[] = {{16, 8}, {12, 6}, {32, 16}};
  const std::u16string text = u"Mill iiii WWWW";
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.pixels);
    Selected s = select(u"Terminus", c.pixels);
    ASSERT_NE(s.dc, nullptr);
    for (int units : {0, 1, 5, 10}) {
      int fit = -1;
      ASSERT_TRUE(
          s.dc->getTextExtentExPoint(text.data(), int(text.size()), units * c.cellWidth, &fit));
      EXPECT_EQ(fit, units);
    }
    s.dc->restoreFont();
  }
}

TEST_F(LinuxGdiTest, DrawnLineInksOnlyItsCell) {
  const struct {
    std::u16string family;
    float pixels;
  } kCases[] = {{u"Terminus", 16}, {u"DejaVu Sans", 24}};
  constexpr uint32_t kWidth = 200, kHeight = 100;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.pixels);
    Selected s = select(c.family, c.pixels);
    ASSERT_NE(s.dc, nullptr);
    std::unique_ptr<GdiBitmap> dib = gdi_->createDibSection(*s.dc, kWidth, kHeight);
    ASSERT_NE(dib, nullptr);
    ASSERT_TRUE(s.dc->selectBitmap(*dib));
    std::fill_n(dib->pixels(), kWidth * kHeight * 4, 0xFF);
    s.dc->setTransparentBackground();
    s.dc->setTextColor(0x000000);
    GdiTextMetrics metrics;
    ASSERT_TRUE(s.dc->getTextMetrics(&metrics));
    constexpr int kTop = 30;
    ASSERT_TRUE(s.dc->textOut(0, kTop, u"Hello", 5));
    s.dc->flush();

    int black = 0, outside = 0;
    for (uint32_t y = 0; y < kHeight; ++y) {
      for (uint32_t x = 0; x < kWidth; ++x) {
        const uint8_t* p = dib->pixels() + (y * kWidth + x) * 4;
        if (p[0] == 255 && p[1] == 255 && p[2] == 255) continue;
        if (int(y) < kTop || int(y) >= kTop + metrics.height) ++outside;
        if (p[0] == 0 && p[1] == 0 && p[2] == 0) ++black;
      }
    }
    EXPECT_GT(black, 10);
    EXPECT_EQ(outside, 0);
    s.dc->restoreBitmap();
    s.dc->restoreFont();
  }
}

TEST_F(LinuxGdiTest, MeasuredAndDrawnThroughTheCore) {
  ResolvedFont entry;
  entry.found = true;
  entry.kind = FontKind::kGdi;
  entry.familyName = u"Terminus";
  const LayoutResult layout = measureGdiLayout(*gdi_, entry, u"Hello world, again", 16, 60, 1);
  ASSERT_TRUE(layout.resolved) << layout.error;
  EXPECT_EQ(layout.lineCount, 3u);  // 7 cells of 8 pixels per line
  EXPECT_EQ(layout.height, 48);
  std::vector<uint8_t> pixels;
  uint32_t pixelWidth = 0, pixelHeight = 0;
  ASSERT_TRUE(rasterizeGdiLayout(*gdi_, layout, pixels, pixelWidth, pixelHeight));
  ASSERT_EQ(pixelHeight, 48u);
  for (uint32_t line = 0; line < 3; ++line) {
    SCOPED_TRACE(line);
    const auto begin = pixels.begin() + line * 16 * pixelWidth;
    EXPECT_GT(std::count(begin, begin + 16 * pixelWidth, 255), 0);
  }
}

TEST(GdiFaceChoiceTest, ClosestStyleThenWeight) {
  auto record = [](std::u16string family, int weight, int style, bool scalable) {
    FontRecord r;
    r.weight = weight;
    r.style = style;
    r.scalable = scalable;
    r.win32FamilyNames = {{u"en-us", family}};
    r.typographicFamilyNames = r.win32FamilyNames;
    return r;
  };
  const std::shared_ptr<FontIndex> index = FontIndex::fromRecords({
      record(u"Fixed", 400, 0, false),     // 0
      record(u"Terminus", 500, 0, false),  // 1
      record(u"Terminus", 700, 0, false),  // 2
      record(u"Terminus", 500, 1, false),  // 3
      record(u"Terminus", 700, 1, false),  // 4
      record(u"Sans", 400, 0, true),       // 5
      record(u"Sans", 700, 0, true),       // 6
  });
  const struct {
    std::u16string family;
    int weight;
    bool italic;
    int record;  // -1: none
  } kCases[] = {
      {u"Terminus", 400, false, 1}, {u"terminus", 700, false, 2}, {u"Terminus", 400, true, 3},
      {u"Terminus", 700, true, 4},  {u"Terminus", 900, false, 2}, {u"Terminus", 100, true, 3},
      {u"Terminus", 600, false, 2}, {u"Sans", 550, false, 6},     {u"Sans", 450, true, 5},
      {u"Mono", 400, false, -1},    {u"", 400, false, -1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::Message() << c.weight << (c.italic ? " italic" : ""));
    const auto choice = chooseGdiFace(*index, c.family, c.weight, c.italic);
    ASSERT_EQ(choice.has_value(), c.record >= 0);
    if (!choice) continue;
    EXPECT_EQ(int(choice->recordId), c.record);
    EXPECT_EQ(choice->familyName, index->record(choice->recordId).win32FamilyNames[0].text);
  }

  const struct {
    std::vector<std::u16string> preferred;
    int record;
  } kSubstitutes[] = {
      {{u"Missing", u"Terminus"}, 1},
      {{u"Sans"}, 5},
      {{u"Missing"}, 5},
      {{}, 5},
  };
  for (const auto& c : kSubstitutes) {
    SCOPED_TRACE(c.record);
    const auto choice = chooseGdiSubstitute(*index, c.preferred, 400, false);
    ASSERT_TRUE(choice.has_value());
    EXPECT_EQ(int(choice->recordId), c.record);
  }
  EXPECT_FALSE(chooseGdiSubstitute(*FontIndex::fromRecords({}), {u"Sans"}, 400, false));
}

}  // namespace
}  // namespace kfp::linux_backend
