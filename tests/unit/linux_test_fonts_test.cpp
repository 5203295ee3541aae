// The Linux backend on the fonts written by tests/fonts/make_test_fonts.py, whose every metric is
// known: exact line heights, advances, line counts, instance coordinates and cell metrics, found
// through a fontconfig configuration that lists only those fonts.
//
// At 20 DIPs on a 1000-unit em the faces advance a-z by 10 (i 5, m 15), space by 5, .notdef by 14.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "linux_text_fixture.h"
#include "platform/linux/fonts/font_index.h"
#include "platform/linux/fonts/font_set.h"
#include "platform/linux/gdi/gdi.h"
#include "platform/linux/raster/glyph_cache.h"
#include "platform/linux/text/laid_out_text.h"
#include "platform/linux/text/text_engine.h"
#include "platform/linux/text/text_format.h"
#include "support/fontconfig_file.h"

namespace kfp::linux_backend {
namespace {

constexpr float kSize = 20;

std::string narrow(std::u16string_view text) {
  return std::string(text.begin(), text.end());
}

class TestFontsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const std::string dir = ::testing::TempDir();
    const std::string config = dir + "/kfp_test_fonts.conf";
    test::writeFontconfigFile(config, KFP_TEST_FONTS_DIR, dir + "/kfp-test-fonts-cache");
    setenv("FONTCONFIG_FILE", config.c_str(), 1);
    index_ = FontIndex::build();
    unsetenv("FONTCONFIG_FILE");
    faces_ = FaceStore::create();
  }
  static void TearDownTestSuite() {
    index_.reset();
    faces_.reset();
  }
  void SetUp() override {
    ASSERT_NE(index_, nullptr);
    ASSERT_GT(index_->size(), 0u) << "no fonts in " KFP_TEST_FONTS_DIR;
  }

  // The family's best face for the request, through the engine's font set as the core asks.
  std::unique_ptr<TextFormat> format(std::u16string_view family, float size,
                                     int weight = kNormalWeight) {
    FontSetRef system = engine_.getSystemFontSet();
    if (!system) return nullptr;
    FontSetRef matched = system->matchFamily(family, weight, kNormalStretch, kStyleNormal);
    if (!matched || matched->fontCount() == 0) return nullptr;
    return fixture::makeFormat(engine_, engine_.createFontCollection(*matched), family, size,
                               weight);
  }

  std::unique_ptr<LinuxTextLayout> layout(std::u16string_view text, const TextFormat& format,
                                          float width) {
    return fixture::makeLayout(engine_, text, format, width);
  }

  // The index records of a family, in index order.
  static std::vector<const FontRecord*> records(std::u16string_view family) {
    std::vector<const FontRecord*> found;
    for (uint32_t id : index_->byTypographicFamily(family)) found.push_back(&index_->record(id));
    return found;
  }

  static inline std::shared_ptr<FontIndex> index_;
  static inline std::shared_ptr<FaceStore> faces_;
  LinuxTextEngine engine_{faces_, index_};
};

TEST_F(TestFontsTest, LineHeightAndBaselineComeFromTheTablesTheFaceChooses) {
  struct Case {
    const char* name;
    std::u16string family;
    float size;
    float lineHeight;
    float baseline;
  };
  const Case cases[] = {
      // typo 800 + 200 + gap 100, although win and hhea say more
      {"USE_TYPO_METRICS", u"KfpTest Typo", kSize, 22, 16},
      // win 1100 + 400, and hhea's 1800 of spacing is 300 beyond them: a gap of 300, not 100
      {"win with the hhea excess as gap", u"KfpTest Win", kSize, 36, 22},
      // hhea spacing 1360 below win's 1500: no gap
      {"win without gap", u"KfpTest WinNoGap", kSize, 30, 22},
      // 1800 + 248 on a 2048 em: a line is one em
      {"2048 units per em", u"KfpTest Em2048", kSize, 20, 1800 * kSize / 2048},
      {"2048 units per em, larger", u"KfpTest Em2048", 64, 64, 56.25f},
      {"odd size", u"KfpTest Typo", 13, 14.3f, 10.4f},
      {"bold flags change nothing", u"KfpTest Flagged", kSize, 36, 22},
      {"variable font", u"KfpTest Var", kSize, 36, 22},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto format = this->format(c.family, c.size);
    ASSERT_TRUE(format);
    struct Text {
      std::u16string_view text;
      uint32_t lineCount;
    };
    for (const Text& t : {Text{u"", 1}, Text{u"am", 1}, Text{u"a\n\nam", 3}, Text{u"aa\r\n", 2}}) {
      SCOPED_TRACE(narrow(t.text));
      auto laidOut = layout(t.text, *format, 1000);
      ASSERT_TRUE(laidOut);
      ASSERT_EQ(laidOut->lines.size(), t.lineCount);
      for (size_t i = 0; i < laidOut->lines.size(); ++i) {
        const LaidOutLine& line = laidOut->lines[i];
        EXPECT_FLOAT_EQ(line.height, c.lineHeight);
        EXPECT_FLOAT_EQ(line.top, float(i) * c.lineHeight);
        EXPECT_FLOAT_EQ(line.baseline, line.top + c.baseline);
      }
      TextMetrics metrics;
      ASSERT_TRUE(laidOut->getMetrics(&metrics));
      EXPECT_EQ(metrics.lineCount, t.lineCount);
      EXPECT_FLOAT_EQ(metrics.height, float(t.lineCount) * c.lineHeight);
    }
  }
}

TEST_F(TestFontsTest, AdvancesWidthsAndWrappingAreExact) {
  struct Case {
    const char* name;
    std::u16string family;
    std::u16string text;
    float maxWidth;
    std::vector<std::u16string> lines;  // without hanging spaces
    std::vector<float> widths;
  };
  const Case cases[] = {
      {"advances add up", u"KfpTest Win", u"am i", 1000, {u"am i"}, {35}},
      {"exact fit stays on one line", u"KfpTest Win", u"aa aa", 45, {u"aa aa"}, {45}},
      {"a hair less wraps", u"KfpTest Win", u"aa aa", 44.9f, {u"aa", u"aa"}, {20, 20}},
      {"greedy", u"KfpTest Win", u"a a a a a", 30, {u"a a", u"a a", u"a"}, {25, 25, 10}},
      {"trailing spaces hang", u"KfpTest Win", u"aa   ", 20, {u"aa"}, {20}},
      {"spaces before a wrap hang", u"KfpTest Win", u"mm   mm", 30, {u"mm", u"mm"}, {30, 30}},
      {"emergency breaks", u"KfpTest Win", u"aaaaa", 25, {u"aa", u"aa", u"a"}, {20, 20, 10}},
      {"emergency break after a word",
       u"KfpTest Win",
       u"i mmm",
       30,
       {u"i", u"mm", u"m"},
       {5, 30, 15}},
      {"hard breaks", u"KfpTest Win", u"m\nmi", 1000, {u"m", u"mi"}, {15, 20}},
      {"missing characters show .notdef", u"KfpTest Win", u"a\u4E2Da", 1000, {u"a\u4E2Da"}, {34}},
      {"2048 units per em", u"KfpTest Em2048", u"am", 1000, {u"am"}, {25}},
      {"2048-unit .notdef", u"KfpTest Em2048", u"\u4E2D", 1000, {u"\u4E2D"}, {1434 * kSize / 2048}},
      // Without a space glyph the space shows .notdef, as any other missing character does.
      {"a face without a space", u"KfpTest NoSpace", u"a a", 1000, {u"a a"}, {34}},
      {"a face without a space wraps at it",
       u"KfpTest NoSpace",
       u"aa aa",
       30,
       {u"aa", u"aa"},
       {20, 20}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto format = this->format(c.family, kSize);
    ASSERT_TRUE(format);
    auto laidOut = layout(c.text, *format, c.maxWidth);
    ASSERT_TRUE(laidOut);
    std::vector<std::u16string> lines;
    std::vector<float> widths;
    for (const LaidOutLine& line : laidOut->lines) {
      lines.push_back(c.text.substr(line.textStart, line.textEnd - line.textStart));
      widths.push_back(line.width);
    }
    EXPECT_EQ(lines, c.lines);
    EXPECT_EQ(widths, c.widths);
  }
}

// The pen moves by every advance, drawn or not, so the glyphs end where the measured width does.
TEST_F(TestFontsTest, GlyphsSitAtTheirAdvancesAndMissingOnesAreNotdef) {
  struct Glyph {
    float x, y;
    bool notdef;
  };
  struct Case {
    const char* name;
    std::u16string family;
    std::u16string text;
    float maxWidth;
    std::vector<Glyph> glyphs;
  };
  const Case cases[] = {
      {"advances",
       u"KfpTest Win",
       u"am\u4E2Di",
       1000,
       {{0, 22, false}, {10, 22, false}, {25, 22, true}, {39, 22, false}}},
      {"a space glyph is placed",
       u"KfpTest Win",
       u"a a",
       1000,
       {{0, 22, false}, {10, 22, false}, {15, 22, false}}},
      {"a missing space is .notdef",
       u"KfpTest NoSpace",
       u"a a",
       1000,
       {{0, 22, false}, {10, 22, true}, {24, 22, false}}},
      {"second line starts at the left, one line lower",
       u"KfpTest Win",
       u"aa aa",
       30,
       {{0, 22, false}, {10, 22, false}, {0, 58, false}, {10, 58, false}}},
      {"2048 units per em",
       u"KfpTest Em2048",
       u"am\u4E2D",
       1000,
       {{0, 1800 * kSize / 2048, false},
        {10, 1800 * kSize / 2048, false},
        {25, 1800 * kSize / 2048, true}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto format = this->format(c.family, kSize);
    ASSERT_TRUE(format);
    auto laidOut = layout(c.text, *format, c.maxWidth);
    ASSERT_TRUE(laidOut);
    ASSERT_EQ(laidOut->glyphs.size(), c.glyphs.size());
    for (size_t i = 0; i < c.glyphs.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_FLOAT_EQ(laidOut->glyphs[i].x, c.glyphs[i].x);
      EXPECT_FLOAT_EQ(laidOut->glyphs[i].y, c.glyphs[i].y);
      EXPECT_EQ(laidOut->glyphs[i].id == 0, c.glyphs[i].notdef);
    }
  }
}

TEST_F(TestFontsTest, NamedInstancesAndAxisValuesSetTheAdvances) {
  // The index lists each named instance with the font's own coordinates.
  struct Instance {
    uint32_t namedInstance;
    int weight;
  };
  std::vector<Instance> instances;
  for (const FontRecord* record : records(u"KfpTest Var")) {
    if (record->namedInstance == 0) continue;
    ASSERT_EQ(record->coordinates.size(), 1u);
    EXPECT_EQ(record->coordinates[0].tag, kWghtTag);
    EXPECT_FLOAT_EQ(record->coordinates[0].value, float(record->weight));
    instances.push_back({record->namedInstance, record->weight});
  }
  std::sort(instances.begin(), instances.end(),
            [](const Instance& a, const Instance& b) { return a.weight < b.weight; });
  std::vector<int> weights;
  for (const Instance& instance : instances) weights.push_back(instance.weight);
  EXPECT_EQ(weights, (std::vector<int>{100, 650, 900}))
      << "Thin, Semibold and Black (Regular is the default instance)";

  // "aa" at 20 DIPs: a-z advance 500 at wght 400, +200 at 900, -100 at 100, linear between.
  struct Case {
    const char* name;
    int weight;
    std::vector<AxisValue> axisValues;
    float width;
  };
  const Case cases[] = {
      {"default instance", 400, {}, 20},
      {"Thin instance", 100, {}, 16},
      {"Semibold instance", 650, {}, 24},
      {"Black instance", 900, {}, 28},
      {"axis value between instances", 400, {{kWghtTag, 775}}, 26},
      {"axis value below the default", 400, {{kWghtTag, 250}}, 18},
      {"axis value overrides the instance", 100, {{kWghtTag, 400}}, 20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto format = this->format(u"KfpTest Var", kSize, c.weight);
    ASSERT_TRUE(format);
    ASSERT_TRUE(format->supportsFontAxisValues());
    if (!c.axisValues.empty()) {
      ASSERT_TRUE(format->setFontAxisValues(c.axisValues));
    }
    EXPECT_EQ(static_cast<LinuxTextFormat&>(*format).simulations(), 0u);
    auto laidOut = layout(u"aa", *format, 1000);
    ASSERT_TRUE(laidOut);
    ASSERT_EQ(laidOut->lines.size(), 1u);
    EXPECT_FLOAT_EQ(laidOut->lines[0].width, c.width);
    ASSERT_EQ(laidOut->glyphs.size(), 2u);
    EXPECT_FLOAT_EQ(laidOut->glyphs[1].x, c.width / 2);
  }
}

// The weight is the OS/2 weight class, but a face whose fsSelection and macStyle say bold is drawn
// as it is for a bold request: emboldening it again would only smear it. Its family's Regular has
// the same weight class, so the style names decide which face a request gets.
TEST_F(TestFontsTest, BoldNamedFacesOfEqualWeightGoToBoldRequests) {
  const std::vector<const FontRecord*> flagged = records(u"KfpTest Flagged");
  ASSERT_EQ(flagged.size(), 2u);
  for (const FontRecord* record : flagged) {
    EXPECT_EQ(record->weight, 400);
    EXPECT_EQ(record->style, kStyleNormal);
  }

  struct Case {
    int weight;
    const char* file;
  };
  FontSetRef system = engine_.getSystemFontSet();
  ASSERT_TRUE(system);
  const auto& fonts = dynamic_cast<const LinuxFontSet&>(*system);
  for (const Case& c :
       {Case{300, "KfpTestFlaggedRegular.ttf"}, Case{400, "KfpTestFlaggedRegular.ttf"},
        Case{500, "KfpTestFlaggedRegular.ttf"}, Case{600, "KfpTestFlagged.ttf"},
        Case{700, "KfpTestFlagged.ttf"}, Case{900, "KfpTestFlagged.ttf"}}) {
    SCOPED_TRACE(c.weight);
    // Both routes a registration takes: the family with a weight, and a family name with the
    // descriptor's wght value.
    const FontSetRef byFamily =
        fonts.matchFamily(u"KfpTest Flagged", c.weight, kNormalStretch, kStyleNormal);
    const AxisValues wght{{kWghtTag, float(c.weight)}};
    const FontSetRef byAxes = fonts.matchProperty(
        {FontPropertyId::kWeightStretchStyleFamilyName, u"KfpTest Flagged"}, wght);
    for (const FontSetRef& matched : {byFamily, byAxes}) {
      const auto* set = dynamic_cast<const LinuxFontSet*>(matched.get());
      ASSERT_TRUE(set && !set->recordIds().empty());
      const std::string& path = index_->record(set->recordIds().front()).path;
      EXPECT_EQ(path.substr(path.rfind('/') + 1), c.file);
    }
    auto format = this->format(u"KfpTest Flagged", kSize, c.weight);
    ASSERT_TRUE(format);
    EXPECT_EQ(static_cast<LinuxTextFormat&>(*format).simulations(), 0u);
  }
}

// The classic cell ignores USE_TYPO_METRICS: win ascent + descent, hhea spacing beyond it as
// external leading; a negative height is the em, a positive one the cell.
TEST_F(TestFontsTest, GdiCellMetricsAndFitCounts) {
  std::unique_ptr<Gdi> gdi = createLinuxGdi(faces_, index_);
  ASSERT_TRUE(gdi);
  struct Case {
    std::u16string family;
    int32_t height;
    int32_t cellHeight;
    int32_t externalLeading;
    std::u16string text;
    int maxExtent;
    int fit;
  };
  const Case cases[] = {
      {u"KfpTest Win", -20, 30, 6, u"aaaa", 35, 3},
      {u"KfpTest Win", -20, 30, 6, u"mmi", 35, 3},
      {u"KfpTest Win", -20, 30, 6, u"mmi", 34, 2},
      {u"KfpTest Win", -20, 30, 6, u"a\u4E2Da", 24, 2},
      {u"KfpTest Typo", -20, 30, 6, u"aaaa", 40, 4},
      {u"KfpTest WinNoGap", -20, 30, 0, u"m", 14, 0},
      {u"KfpTest Em2048", -20, 20, 0, u"am", 24, 1},
      {u"KfpTest Win", 30, 30, 6, u"aaaa", 35, 3},
      {u"KfpTest Win", 15, 15, 3, u"aaaa", 35, 4},
      {u"kfptest win", -40, 60, 12, u"aaaa", 60, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << narrow(c.family) << " at " << c.height << ", "
                                      << narrow(c.text) << " in " << c.maxExtent);
    GdiFontRequest request;
    request.height = c.height;
    request.faceName = c.family;
    std::unique_ptr<GdiFont> font = gdi->createFont(request);
    ASSERT_TRUE(font);
    std::unique_ptr<GdiDeviceContext> dc = gdi->createCompatibleDC();
    ASSERT_TRUE(dc && dc->selectFont(*font));
    char16_t face[64] = {};
    ASSERT_GT(dc->getTextFace(face, 64), 0);
    EXPECT_EQ(narrow(face), narrow(c.family[0] == u'k' ? u"KfpTest Win" : c.family));
    GdiTextMetrics metrics;
    ASSERT_TRUE(dc->getTextMetrics(&metrics));
    EXPECT_EQ(metrics.height, c.cellHeight);
    EXPECT_EQ(metrics.externalLeading, c.externalLeading);
    int fit = -1;
    ASSERT_TRUE(dc->getTextExtentExPoint(c.text.data(), int(c.text.size()), c.maxExtent, &fit));
    EXPECT_EQ(fit, c.fit);
  }
}

}  // namespace
}  // namespace kfp::linux_backend
