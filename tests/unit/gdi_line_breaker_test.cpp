#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "layout/gdi_layout.h"
#include "support/fake_gdi.h"

namespace kfp {
namespace {

using testing::FakeGdi;

// Every code unit of the fake is 10 pixels wide, so maxWidthPx / 10 units fit on a line.
struct BreakCase {
  const char* name;
  std::u16string text;
  int32_t maxWidthPx;
  std::vector<GdiLine> lines;
};

const BreakCase kParagraphCases[] = {
    {"empty text is one empty line", u"", 100, {{0, 0}}},
    {"letter and LF is one line", u"a\n", 100, {{0, 1}}},
    {"letter and two LFs adds an empty line", u"a\n\n", 100, {{0, 1}, {2, 0}}},
    {"CR LF alone is one empty line", u"\r\n", 100, {{0, 0}}},
    {"lone CR breaks like LF", u"a\rb", 100, {{0, 1}, {2, 1}}},
    {"CR LF is one break", u"a\r\nb", 100, {{0, 1}, {3, 1}}},
    {"LF CR is two breaks", u"a\n\rb", 100, {{0, 1}, {2, 0}, {3, 1}}},
    {"trailing CR LF starts no line", u"ab\r\n", 100, {{0, 2}}},
    {"leading LF gives an empty first line", u"\nab", 100, {{0, 0}, {1, 2}}},
    {"paragraph of spaces is a line", u"   ", 100, {{0, 3}}},
    {"wrapped paragraph of spaces is one line", u"      ", 30, {{0, 2}}},
    {"word ending at the fitted boundary moves down", u"ab cde fg", 60, {{0, 2}, {3, 6}}},
    {"unit beyond the fit is not examined", u"abc def", 30, {{0, 3}, {4, 3}}},
    {"long word is broken where it stops fitting",
     u"abcdefghij",
     30,
     {{0, 3}, {3, 3}, {6, 3}, {9, 1}}},
    {"nothing fits: one unit per line", u"abc", 5, {{0, 1}, {1, 1}, {2, 1}}},
    {"whitespace after a break is skipped", u"ab   cd", 30, {{0, 2}, {5, 2}}},
    {"leading whitespace stays in the first line", u"  ab", 100, {{0, 4}}},
    {"whitespace only at the line start is no break", u" abcdef", 40, {{0, 4}, {4, 3}}},
    {"trailing whitespace that fits stays", u"ab  ", 100, {{0, 4}}},
    {"each paragraph wraps on its own", u"ab cd\nef gh", 30, {{0, 2}, {3, 2}, {6, 2}, {9, 2}}},
};

const BreakCase kWhitespaceCases[] = {
    {"tab", u"ab\tcd ef", 50, {{0, 2}, {3, 5}}},
    {"no-break space", u"ab\u00A0cd ef", 50, {{0, 2}, {3, 5}}},
    {"next line", u"ab\u0085cd ef", 50, {{0, 2}, {3, 5}}},
    {"ideographic space", u"ab\u3000cd ef", 50, {{0, 2}, {3, 5}}},
    {"line separator is whitespace, not a paragraph break", u"ab\u2028cd", 100, {{0, 5}}},
    {"zero width space is no break", u"ab\u200Bcdef", 50, {{0, 5}, {5, 2}}},
};

const BreakCase kSurrogateCases[] = {
    {"pair at the boundary moves down whole", u"a\U0001F600b", 20, {{0, 1}, {1, 2}, {3, 1}}},
    {"pair that fits stays whole", u"ab\U0001F600", 40, {{0, 4}}},
    {"single-unit line may split a pair", u"\U0001F600", 10, {{0, 1}, {1, 1}}},
};

class GdiLineBreakerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    font_ = gdi_.createFont(GdiFontRequest{});
    dc_ = gdi_.createCompatibleDC();
    ASSERT_TRUE(dc_->selectFont(*font_));
  }
  void expectLines(const BreakCase& c) {
    SCOPED_TRACE(c.name);
    GdiLines out;
    ASSERT_TRUE(breakGdiLines(*dc_, c.text, c.maxWidthPx, &out));
    EXPECT_EQ(out.lines, c.lines);
  }

  FakeGdi gdi_;
  std::unique_ptr<GdiFont> font_;
  std::unique_ptr<GdiDeviceContext> dc_;
};

TEST_F(GdiLineBreakerTest, Paragraphs) {
  for (const BreakCase& c : kParagraphCases) expectLines(c);
}

TEST_F(GdiLineBreakerTest, WhitespaceBreaks) {
  for (const BreakCase& c : kWhitespaceCases) expectLines(c);
}

TEST_F(GdiLineBreakerTest, SurrogatePairs) {
  for (const BreakCase& c : kSurrogateCases) expectLines(c);
}

TEST_F(GdiLineBreakerTest, OneExtentQueryPerProducedLine) {
  GdiLines out;
  ASSERT_TRUE(breakGdiLines(*dc_, u"abcdefghij\n\nxy", 30, &out));
  EXPECT_EQ(out.lines.size(), 6u);
  // The empty paragraph needs no query.
  EXPECT_EQ(gdi_.extentLimits, std::vector<int>(5, 30));
}

TEST_F(GdiLineBreakerTest, LineHeightIsCellPlusLeadingAtLeastOne) {
  const struct {
    GdiTextMetrics metrics;
    int32_t lineHeight;
  } kCases[] = {{{60, 6}, 66}, {{16, 0}, 16}, {{0, 0}, 1}, {{5, -10}, 1}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.lineHeight);
    gdi_.metrics = c.metrics;
    GdiLines out;
    ASSERT_TRUE(breakGdiLines(*dc_, u"ab", 100, &out));
    EXPECT_EQ(out.lineHeight, c.lineHeight);
  }
}

TEST_F(GdiLineBreakerTest, PlatformFailuresFail) {
  const struct {
    const char* name;
    bool failMetrics;
    bool failExtent;
    std::u16string text;
  } kCases[] = {
      {"metrics, empty text", true, false, u""},
      {"metrics", true, false, u"ab"},
      {"extent", false, true, u"ab"},
      {"extent in a later paragraph", false, true, u"\nab"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    gdi_.failTextMetrics = c.failMetrics;
    gdi_.failTextExtent = c.failExtent;
    GdiLines out;
    EXPECT_FALSE(breakGdiLines(*dc_, c.text, 100, &out));
  }
}

TEST(GdiWhitespaceTest, Classification) {
  const struct {
    char16_t c;
    bool whitespace;
  } kCases[] = {
      {u'\t', true},   {u'\n', true},   {0x000B, true},  {0x000C, true},  {u'\r', true},
      {u' ', true},    {0x0085, true},  {0x00A0, true},  {0x0008, false}, {0x000E, false},
      {0x001C, false}, {u'a', false},   {0x00AD, false}, {0x1680, true},  {0x2000, true},
      {0x2007, true},  {0x200A, true},  {0x200B, false}, {0x2028, true},  {0x2029, true},
      {0x202F, true},  {0x205F, true},  {0x3000, true},  {0x180E, false}, {0xFEFF, false},
      {0xD83D, false}, {0x2060, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(static_cast<int>(c.c));
    EXPECT_EQ(isGdiWhitespace(c.c), c.whitespace);
  }
}

TEST(GdiPixelsTest, CeilToPixels) {
  const struct {
    float value;
    int64_t pixels;
  } kCases[] = {{56.0f, 56}, {56.0001f, 57}, {0.5f, 1}, {0.0f, 0}, {19.5f, 20}, {16384.0f, 16384}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(ceilToPixels(c.value), c.pixels);
  }
}

}  // namespace
}  // namespace kfp
