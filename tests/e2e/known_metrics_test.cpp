// The real renderer on the test fonts alone (a fontconfig configuration that lists only them),
// whose metrics are known: exact line counts, heights, bitmap sizes and ink.
//
// At 20 DIPs the faces advance a-z by 10 (i 5, m 15) and space by 5; the KfpTest Var a-z by 8 at
// wght 100 and 14 at 900. Each letter is a box inked from 1 pixel after its pen position to 1
// pixel before its advance, from 14 pixels above the baseline down to it.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "support/e2e_renderer.h"
#include "support/fontconfig_file.h"

namespace kfp::test {
namespace {

using client::FontAxis;
using client::FontDescriptor;
using client::LayoutRequest;
using client::MeasureItem;
using client::RenderResult;

class KnownMetricsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The Windows renderer finds its fonts through the system, not through fontconfig.
    KFP_SKIP_UNDER_LAUNCHER();
    const std::string dir = ::testing::TempDir();
    const std::string config = dir + "/kfp_known_metrics.conf";
    writeFontconfigFile(config, KFP_TEST_FONTS_DIR, dir + "/kfp-known-metrics-cache");
    setenv("FONTCONFIG_FILE", config.c_str(), 1);
    session_ = std::make_unique<RendererSession>(kRendererPath);
    unsetenv("FONTCONFIG_FILE");
    ASSERT_TRUE(session_->started());
    const std::vector<FontDescriptor> fonts = {
        {.fontId = "typo", .familyName = "KfpTest Typo"},
        {.fontId = "win", .familyName = "KfpTest Win"},
        {.fontId = "em2048", .postScriptName = "KfpTestEm2048-Regular"},
        {.fontId = "nospace", .familyName = "KfpTest NoSpace"},
        {.fontId = "var", .familyName = "KfpTest Var"},
        {.fontId = "var-thin",
         .familyName = "KfpTest Var",
         .axes = {FontAxis{.tag = "wght", .min = 100, .max = 900, .value = 100}}},
        {.fontId = "var-black",
         .familyName = "KfpTest Var",
         .axes = {FontAxis{.tag = "wght", .min = 100, .max = 900, .value = 900}}},
        {.fontId = "installed", .familyName = "DejaVu Sans"},
    };
    ASSERT_TRUE(session_->client().registerFontsAndWait(fonts));
  }
  void TearDown() override {
    if (session_) {
      EXPECT_TRUE(session_->expectCleanEnd());
    }
  }

  static LayoutRequest request(std::string id, std::string text, double width, double scale = 1) {
    LayoutRequest r;
    r.generation = 1;
    r.text = std::move(text);
    r.fontSize = 20;
    r.width = width;
    r.dpiScale = scale;
    r.fontIds = {std::move(id)};
    return r;
  }

  std::unique_ptr<RendererSession> session_;
};

TEST_F(KnownMetricsTest, MeasureGivesExactLineCountsAndHeights) {
  struct Case {
    const char* name;
    const char* fontId;
    const char* text;
    double width;
    double scale;
    uint32_t lineCount;
    double height;
  };
  const Case cases[] = {
      {"typographic metrics", "typo", "am i", 300, 1, 1, 22},
      {"win metrics with the hhea excess", "win", "am i", 300, 1, 1, 36},
      {"greedy wrapping", "win", "a a a a a", 30, 1, 3, 108},
      {"exact fit", "win", "aa aa", 45, 1, 1, 36},
      {"emergency breaks", "win", "aaaaa", 25, 1, 3, 108},
      {"hard breaks and an empty line", "typo", "a\n\nb", 300, 1, 3, 66},
      {"height rounded up to whole pixels", "typo", "a\nb", 300, 1.3, 2, 58 / 1.3},
      {"2048 units per em, found by PostScript name", "em2048", "am", 300, 1, 1, 20},
      {"no space glyph: the space is .notdef", "nospace", "aa aa", 45, 1, 2, 72},
      {"variable default", "var", "aa aa", 40, 1, 2, 72},
      {"variable at wght 100", "var-thin", "aa aa", 40, 1, 1, 36},
      {"variable at wght 900", "var-black", "aa aa", 40, 1, 2, 72},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto result =
        session_->client().measureAndWait(request(c.fontId, c.text, c.width, c.scale));
    ASSERT_TRUE(result);
    ASSERT_EQ(result->items.size(), 1u);
    const MeasureItem& item = result->items[0];
    ASSERT_TRUE(item.resolved) << item.error;
    EXPECT_EQ(item.lineCount, c.lineCount);
    EXPECT_NEAR(item.height, c.height, 1e-4);
  }
}

// Installed fonts outside the configuration are not found: the renderer sees only the test fonts.
TEST_F(KnownMetricsTest, FontsOutsideTheConfigurationAreNotFound) {
  const auto result = session_->client().measureAndWait(request("installed", "a", 300));
  ASSERT_TRUE(result);
  ASSERT_EQ(result->items.size(), 1u);
  EXPECT_FALSE(result->items[0].resolved);
  EXPECT_FALSE(result->items[0].error.empty());
}

// The boxes sit on whole pixels, so each letter's ink is exact: fully covered inside, nothing
// outside.
TEST_F(KnownMetricsTest, RenderDrawsEachLetterWhereItWasMeasured) {
  struct Box {
    uint32_t left, right;  // columns, right exclusive
  };
  struct Case {
    const char* name;
    const char* fontId;
    const char* text;
    std::vector<Box> boxes;  // on the first line, top 8 and bottom 22 (baseline 22, exclusive)
  };
  const Case cases[] = {
      {"letters and a space", "win", "am a", {{1, 9}, {11, 24}, {31, 39}}},
      {"a missing space shows .notdef", "nospace", "a a", {{1, 9}, {11, 23}, {25, 33}}},
      {"heavier instance, wider letters", "var-black", "aa", {{1, 13}, {15, 27}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto result = session_->client().renderAndWait(request(c.fontId, c.text, 60));
    ASSERT_TRUE(result);
    ASSERT_EQ(result->size(), 1u);
    const RenderResult& r = (*result)[0];
    ASSERT_TRUE(r.resolved) << r.error;
    ASSERT_EQ(r.width, 60u);
    ASSERT_EQ(r.height, 36u);
    EXPECT_DOUBLE_EQ(r.textHeight, 36);
    for (uint32_t y = 0; y < r.height; ++y) {
      for (uint32_t x = 0; x < r.width; ++x) {
        bool inside = false;
        for (const Box& box : c.boxes) inside |= y >= 8 && y < 22 && x >= box.left && x < box.right;
        const uint8_t alpha = r.pixels[size_t(y) * r.stride + x];
        ASSERT_EQ(alpha, inside ? 255 : 0) << "pixel " << x << "," << y;
      }
    }
  }
}

}  // namespace
}  // namespace kfp::test
