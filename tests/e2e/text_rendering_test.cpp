// What a person would see: real fonts laid out and drawn through the real renderer, checked by
// line counts, heights and where the ink falls.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/e2e_renderer.h"

namespace kfp::test {
namespace {

using client::FontAxis;
using client::FontDescriptor;
using client::LayoutRequest;
using client::MeasureItem;
using client::RenderResult;

struct Ink {
  uint64_t sum = 0;
  uint32_t left = UINT32_MAX, top = UINT32_MAX, right = 0, bottom = 0;  // inclusive box
  bool any() const { return sum != 0; }
};

Ink inkOf(const RenderResult& r) {
  Ink ink;
  for (uint32_t y = 0; y < r.height; ++y) {
    for (uint32_t x = 0; x < r.width; ++x) {
      const uint8_t a = r.pixels[size_t(y) * r.stride + x];
      if (a == 0) continue;
      ink.sum += a;
      ink.left = std::min(ink.left, x);
      ink.right = std::max(ink.right, x);
      ink.top = std::min(ink.top, y);
      ink.bottom = std::max(ink.bottom, y);
    }
  }
  return ink;
}

class TextRenderingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(session_.started());
    const std::vector<FontDescriptor> fonts = {
        {.fontId = "sans", .familyName = "DejaVu Sans"},
        {.fontId = "sans-bold", .familyName = "DejaVu Sans", .styleName = "Bold"},
        {.fontId = "inter-thin",
         .familyName = "Inter",
         .axes = {FontAxis{.tag = "wght", .min = 100, .max = 900, .value = 100}}},
        {.fontId = "inter-black",
         .familyName = "Inter",
         .axes = {FontAxis{.tag = "wght", .min = 100, .max = 900, .value = 900}}},
        {.fontId = "arabic", .familyName = "Noto Sans Arabic"},
        {.fontId = "devanagari", .familyName = "Noto Sans Devanagari"},
        {.fontId = "emoji", .familyName = "Noto Color Emoji"},
        {.fontId = "terminus", .familyName = "Terminus"},
    };
    ASSERT_TRUE(session_.client().registerFontsAndWait(fonts));
  }
  void TearDown() override { EXPECT_TRUE(session_.expectCleanEnd()); }

  LayoutRequest request(std::string id, std::string text, double width = 300, double scale = 1) {
    LayoutRequest r;
    r.generation = 1;
    r.text = std::move(text);
    r.width = width;
    r.dpiScale = scale;
    r.fontIds = {std::move(id)};
    return r;
  }

  MeasureItem measure(const LayoutRequest& r) {
    const auto result = session_.client().measureAndWait(r);
    EXPECT_TRUE(result) << result.error();
    if (!result || result->items.size() != 1) return {};
    return result->items[0];
  }

  RenderResult render(const LayoutRequest& r) {
    const auto result = session_.client().renderAndWait(r);
    EXPECT_TRUE(result) << result.error();
    if (!result || result->size() != 1) return {};
    return (*result)[0];
  }

  RendererSession session_{kRendererPath};
};

TEST_F(TextRenderingTest, LinesFollowTheWidthAndTheText) {
  struct Case {
    const char* name;
    const char* text;
    double width;
    uint32_t lines;
  };
  const Case cases[] = {
      {"empty text is one line", "", 300, 1},
      {"short text", "Hello", 300, 1},
      {"a word wider than the line breaks inside", "Supercalifragilisticexpialidocious", 60, 0},
      {"hard breaks",
       "a\nb\r\nc\rd\xe2\x80\xa8"
       "e",
       300, 5},
      {"trailing hard break adds an empty line", "a\n", 300, 2},
      {"trailing spaces hang", "Hello                                                  ", 80, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const MeasureItem item = measure(request("sans", c.text, c.width));
    ASSERT_TRUE(item.resolved) << item.error;
    if (c.lines != 0)
      EXPECT_EQ(item.lineCount, c.lines);
    else
      EXPECT_GT(item.lineCount, 2u);
  }
  const std::string sentence = "The quick brown fox jumps over the lazy dog. ";
  uint32_t previous = 0;
  for (int copies = 1; copies <= 4; ++copies) {
    std::string text;
    for (int i = 0; i < copies; ++i) text += sentence;
    const MeasureItem item = measure(request("sans", text, 200));
    EXPECT_GT(item.lineCount, previous) << copies;
    previous = item.lineCount;
  }
}

TEST_F(TextRenderingTest, ScaleChangesPixelsNotLines) {
  const std::string text = "The quick brown fox jumps over the lazy dog";
  const MeasureItem one = measure(request("sans", text, 120, 1));
  const MeasureItem two = measure(request("sans", text, 120, 2));
  EXPECT_EQ(one.lineCount, two.lineCount);
  EXPECT_GT(one.lineCount, 1u);
  for (double scale : {1.0, 1.25, 1.5, 2.0, 2.5}) {
    SCOPED_TRACE(scale);
    const MeasureItem item = measure(request("sans", text, 120, scale));
    const double pixels = item.height * scale;
    EXPECT_NEAR(pixels, std::round(pixels), 1e-3);
    const RenderResult r = render(request("sans", text, 120, scale));
    EXPECT_EQ(r.width, uint32_t(std::ceil(120 * scale)));
    EXPECT_EQ(r.height, uint32_t(std::lround(pixels)));
  }
}

TEST_F(TextRenderingTest, InkStaysInsideTheLayoutBox) {
  const RenderResult r = render(request("sans", "Hamburgefonstiv", 300, 2));
  ASSERT_TRUE(r.resolved) << r.error;
  const Ink ink = inkOf(r);
  ASSERT_TRUE(ink.any());
  // Starts at the left edge, leaves the right part of a wide line empty, spans most of the height.
  EXPECT_LT(ink.left, 8u);
  EXPECT_LT(ink.right, r.width - 40);
  EXPECT_LT(ink.top, r.height / 3);
  EXPECT_GT(ink.bottom, r.height / 2);

  // The same text at half the scale covers half the pixels across.
  const Ink half = inkOf(render(request("sans", "Hamburgefonstiv", 300, 1)));
  EXPECT_NEAR(double(ink.right - ink.left), 2.0 * (half.right - half.left), 6.0);

  const RenderResult empty = render(request("sans", "", 300, 1));
  ASSERT_TRUE(empty.resolved);
  EXPECT_GE(empty.height, 1u);
  EXPECT_FALSE(inkOf(empty).any());
}

TEST_F(TextRenderingTest, StylesAxesScriptsAndColourGlyphsShowInTheInk) {
  const std::string latin = "Hamburgefonstiv";
  const Ink regular = inkOf(render(request("sans", latin)));
  const Ink bold = inkOf(render(request("sans-bold", latin)));
  EXPECT_GT(bold.sum, regular.sum * 6 / 5);
  const Ink thin = inkOf(render(request("inter-thin", latin)));
  const Ink black = inkOf(render(request("inter-black", latin)));
  EXPECT_GT(black.sum, thin.sum * 2);

  struct Case {
    const char* id;
    const char* text;
  };
  const Case scripts[] = {
      {"arabic",
       "\xd9\x85\xd8\xb1\xd8\xad\xd8\xa8\xd8\xa7 "
       "\xd8\xa8\xd8\xa7\xd9\x84\xd8\xb9\xd8\xa7\xd9\x84\xd9\x85"},
      {"devanagari", "\xe0\xa4\xa8\xe0\xa4\xae\xe0\xa4\xb8\xe0\xa5\x8d\xe0\xa4\xa4\xe0\xa5\x87"},
      {"emoji", "\xf0\x9f\x98\x80\xf0\x9f\x8e\x89"},
      {"terminus", "Hamburgefonstiv"},
  };
  for (const auto& c : scripts) {
    SCOPED_TRACE(c.id);
    const RenderResult r = render(request(c.id, c.text));
    ASSERT_TRUE(r.resolved) << r.error;
    EXPECT_TRUE(inkOf(r).any());
  }
  // Arabic is set right to left from the leading edge of its paragraph.
  const Ink arabic = inkOf(render(request("arabic", scripts[0].text)));
  EXPECT_GT(arabic.right, 100u);
}

TEST_F(TextRenderingTest, BitmapLimitsRejectWhatMeasureAccepts) {
  const LayoutRequest wide = request("sans", "Hello", 8192, 2.5);
  const MeasureItem item = measure(wide);
  EXPECT_TRUE(item.resolved);
  const RenderResult r = render(wide);
  EXPECT_FALSE(r.resolved);
  EXPECT_EQ(r.error, "RASTERIZE_FAILED");
  EXPECT_TRUE(r.pixels.empty());

  const RenderResult edge = render(request("sans", "Hello", 8192, 2));
  EXPECT_TRUE(edge.resolved) << edge.error;
  EXPECT_EQ(edge.width, 16384u);
}

// A colour-bitmap-only face is scaled by its head table's 2048 units per em (FreeType reports 0 for
// it); at the 1000 units a missing value would give, one line of "Hg" at 28 measures 68.
TEST_F(TextRenderingTest, ColourBitmapFaceLinesUseTheHeadTableUnitsPerEm) {
  const MeasureItem item = measure(request("emoji", "Hg"));
  ASSERT_TRUE(item.resolved) << item.error;
  EXPECT_EQ(item.lineCount, 1u);
  EXPECT_EQ(item.height, 33);
}

TEST_F(TextRenderingTest, BitmapOnlyFamilyHeightIsWholeLines) {
  const LayoutRequest r = request("terminus", "one two three four five six seven", 60, 2);
  const MeasureItem item = measure(r);
  ASSERT_TRUE(item.resolved) << item.error;
  ASSERT_GT(item.lineCount, 1u);
  const RenderResult drawn = render(r);
  ASSERT_TRUE(drawn.resolved) << drawn.error;
  EXPECT_EQ(drawn.height % item.lineCount, 0u);
  EXPECT_DOUBLE_EQ(drawn.textHeight, item.height);
  EXPECT_TRUE(inkOf(drawn).any());
}

}  // namespace
}  // namespace kfp::test
