// Paragraph layout of the Linux backend: hard breaks, greedy wrapping with hanging spaces and
// emergency breaks, shaping of complex scripts, bidi order, simulations, variations and metrics.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <limits>
#include <numeric>
#include <string>
#include <vector>

#include "linux_text_fixture.h"
#include "platform/linux/c_handles.h"
#include "platform/linux/fonts/face_metrics.h"
#include "platform/linux/raster/glyph_cache.h"
#include "platform/linux/text/layout_engine.h"
#include "platform/linux/text/line_breaker.h"
#include "platform/linux/text/paragraph_layout.h"
#include "platform/linux/text/shape_memo.h"
#include "support/installed_fonts.h"

namespace kfp::linux_backend {
namespace {

using fixture::FontFile;
using fixture::LinuxTextFixture;

// ---- Paragraph splitting -------------------------------------------------------------------

struct SplitCase {
  const char* name;
  std::u16string text;
  std::vector<TextRange> paragraphs;
};

TEST(HardBreaks, SplitsAtEveryHardBreakAndKeepsTrailingEmptyParagraph) {
  const SplitCase cases[] = {
      {"empty", u"", {{0, 0}}},
      {"no break", u"abc", {{0, 3}}},
      {"LF", u"a\nb", {{0, 1}, {2, 3}}},
      {"CR", u"a\rb", {{0, 1}, {2, 3}}},
      {"CRLF is one break", u"a\r\nb", {{0, 1}, {3, 4}}},
      {"LF CR is two breaks", u"a\n\rb", {{0, 1}, {2, 2}, {3, 4}}},
      {"NEL", u"a\u0085b", {{0, 1}, {2, 3}}},
      {"LS", u"a\u2028b", {{0, 1}, {2, 3}}},
      {"PS", u"a\u2029b", {{0, 1}, {2, 3}}},
      {"trailing break", u"a\n", {{0, 1}, {2, 2}}},
      {"only a break", u"\n", {{0, 0}, {1, 1}}},
      {"trailing CRLF", u"ab\r\n", {{0, 2}, {4, 4}}},
      {"blank lines", u"\n\n", {{0, 0}, {1, 1}, {2, 2}}},
      {"VT and FF are not hard breaks", u"a\u000Bb\u000Cc", {{0, 5}}},
  };
  std::vector<TextRange> paragraphs;
  for (const SplitCase& c : cases) {
    SCOPED_TRACE(c.name);
    splitParagraphs(c.text, paragraphs);
    EXPECT_EQ(paragraphs, c.paragraphs);
  }
}

// ---- Greedy line breaking ------------------------------------------------------------------

// A monospace model: every code unit 10 wide, breaks after spaces and tabs, emergency boundaries
// everywhere except before code units marked '+' (the second unit of a cluster). Tab stops are
// every 40 from the line start.
constexpr float kModelTabStop = 40;
struct BreakCase {
  const char* name;
  std::string text;
  float maxWidth;
  WordWrapping wrapping;
  std::vector<std::string> lines;  // each line's content without hanging spaces
};

std::vector<std::string> breakModel(const std::string& text, float maxWidth,
                                    WordWrapping wrapping) {
  const size_t n = text.size();
  std::vector<float> advances(n, 10.0f);
  std::vector<uint8_t> flags(n + 1, 0);
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  for (size_t i = 0; i < n; ++i) {
    if (blank(text[i])) flags[i] |= kHangingSpace;
    if (text[i] == '\t') flags[i] |= kTab;
    if (text[i] == '+') advances[i] = 0;
    if (i > 0 && blank(text[i - 1]) && !blank(text[i])) flags[i] |= kLineBreakBefore;
    if (i > 0 && text[i] != '+') flags[i] |= kEmergencyBreakBefore;
  }
  std::vector<LineSpan> spans;
  breakLines({advances, flags, maxWidth, wrapping, kModelTabStop}, spans);
  std::vector<std::string> lines;
  size_t expectedStart = 0;
  for (const LineSpan& span : spans) {
    EXPECT_EQ(span.start, expectedStart) << "lines must tile the paragraph";
    expectedStart = span.end;
    lines.push_back(text.substr(span.start, span.contentEnd - span.start));
    float width = 0;
    for (size_t i = span.start; i < span.contentEnd; ++i) {
      if (text[i] == '\t') {
        width = (std::floor(width / kModelTabStop) + 1) * kModelTabStop;
      } else if (text[i] != '+') {
        width += 10;
      }
    }
    EXPECT_FLOAT_EQ(span.width, width);
  }
  EXPECT_EQ(expectedStart, n);
  return lines;
}

TEST(LineBreaker, GreedyWrappingWithHangingSpacesAndEmergencyBreaks) {
  constexpr auto kEmergency = WordWrapping::kEmergencyBreak;
  const BreakCase cases[] = {
      {"empty paragraph is one line", "", 50, kEmergency, {""}},
      {"fits", "ab cd", 50, kEmergency, {"ab cd"}},
      {"exact fit", "abcde", 50, kEmergency, {"abcde"}},
      {"wraps at the space", "ab cd", 40, kEmergency, {"ab", "cd"}},
      {"trailing spaces hang", "abcd    ", 40, kEmergency, {"abcd"}},
      {"spaces before a wrap hang", "abcd   ef", 40, kEmergency, {"abcd", "ef"}},
      {"greedy fill", "a b c d e f", 50, kEmergency, {"a b c", "d e f"}},
      {"long word broken", "abcdefghij", 40, kEmergency, {"abcd", "efgh", "ij"}},
      {"long word after a short one", "ab cdefghij", 40, kEmergency, {"ab", "cdef", "ghij"}},
      {"rest of a broken word shares its line", "abcdef gh", 40, kEmergency, {"abcd", "ef", "gh"}},
      {"never splits a cluster", "ab+cd", 20, kEmergency, {"ab+", "cd"}},
      {"at least one cluster per line", "abc", 5, kEmergency, {"a", "b", "c"}},
      {"spaces hang after a cluster wider than the line", "a b c", 5, kEmergency, {"a", "b", "c"}},
      {"spaces hang after a broken word's last cluster", "ab  c", 5, kEmergency, {"a", "b", "c"}},
      {"plain wrap lets a long word overflow",
       "ab cdefghij kl",
       40,
       WordWrapping::kWrap,
       {"ab", "cdefghij", "kl"}},
      {"no wrap keeps one line", "ab cd ef", 20, WordWrapping::kNoWrap, {"ab cd ef"}},
      {"tab advances to the next stop", "a\tb", 100, kEmergency, {"a\tb"}},
      {"tab on a stop advances a whole stop", "abcd\tb", 100, kEmergency, {"abcd\tb"}},
      {"tabs measure from where they start", "ab\tc\td", 100, kEmergency, {"ab\tc\td"}},
      {"tab stop pushes the next word out", "ab\tcd", 50, kEmergency, {"ab", "cd"}},
      {"trailing tabs hang", "ab\t\t", 30, kEmergency, {"ab"}},
      {"tab stops restart on a new line", "abc de\tf\tg", 60, kEmergency, {"abc de", "f\tg"}},
  };
  for (const BreakCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(breakModel(c.text, c.maxWidth, c.wrapping), c.lines);
  }
}

TEST(LineBreaker, RoundingInSummedAdvancesDoesNotWrapTextOfExactlyTheWidth) {
  // Ten advances of 0.1 sum to a hair above 1 in float arithmetic.
  const std::vector<float> advances(10, 0.1f);
  const std::vector<uint8_t> flags(11, kEmergencyBreakBefore);
  float sum = 0;
  for (float a : advances) sum += a;
  ASSERT_GT(sum, 1.0f);
  std::vector<LineSpan> spans;
  breakLines({advances, flags, 1.0f, WordWrapping::kEmergencyBreak, kModelTabStop}, spans);
  EXPECT_EQ(spans.size(), 1u);
}

// ---- Line metrics from table values --------------------------------------------------------

struct MetricCase {
  const char* name;
  LineMetricTables tables;
  bool chosen;
  float ascent, descent, lineGap;
};

LineMetricTables tablesWith(bool os2, uint16_t fsSelection, int16_t typoAscender,
                            int16_t typoDescender, int16_t typoLineGap, uint16_t winAscent,
                            uint16_t winDescent, bool hhea, int16_t hheaAscender,
                            int16_t hheaDescender, int16_t hheaLineGap) {
  LineMetricTables t;
  t.unitsPerEm = 2048;
  t.hasOs2 = os2;
  t.fsSelection = fsSelection;
  t.typoAscender = typoAscender;
  t.typoDescender = typoDescender;
  t.typoLineGap = typoLineGap;
  t.winAscent = winAscent;
  t.winDescent = winDescent;
  t.hasHhea = hhea;
  t.hheaAscender = hheaAscender;
  t.hheaDescender = hheaDescender;
  t.hheaLineGap = hheaLineGap;
  return t;
}

TEST(FaceLineMetrics, WinThenTypoThenHheaAndNeverAZeroHeightLine) {
  const MetricCase cases[] = {
      {"win values", tablesWith(true, 0, 800, -200, 90, 1900, 500, true, 1900, -500, 0), true, 1900,
       500, 0},
      {"hhea spacing beyond win is gap",
       tablesWith(true, 0, 800, -200, 90, 1900, 500, true, 1900, -500, 100), true, 1900, 500, 100},
      {"gap is hhea spacing beyond win, not the hhea gap",
       tablesWith(true, 0, 800, -200, 90, 1900, 500, true, 1800, -400, 300), true, 1900, 500, 100},
      {"hhea spacing below win gives no gap",
       tablesWith(true, 0, 800, -200, 90, 1900, 500, true, 1700, -400, 100), true, 1900, 500, 0},
      {"USE_TYPO_METRICS", tablesWith(true, 0x80, 800, -200, 90, 1900, 500, true, 1900, -500, 0),
       true, 800, 200, 90},
      {"zero win falls back to typo", tablesWith(true, 0, 800, -200, 90, 0, 0, true, 900, -300, 50),
       true, 800, 200, 90},
      {"zero win and typo fall back to hhea",
       tablesWith(true, 0, 0, 0, 40, 0, 0, true, 900, -300, 50), true, 900, 300, 50},
      {"zero win without hhea uses typo", tablesWith(true, 0, 700, -300, 0, 0, 0, false, 0, 0, 0),
       true, 700, 300, 0},
      {"no OS/2 uses hhea", tablesWith(false, 0, 0, 0, 0, 0, 0, true, 900, -300, -5), true, 900,
       300, 0},
      {"nothing usable", tablesWith(true, 0, 0, 0, 0, 0, 0, true, 0, 0, 0), false, 0, 0, 0},
  };
  for (const MetricCase& c : cases) {
    SCOPED_TRACE(c.name);
    FaceLineMetrics metrics;
    EXPECT_EQ(chooseLineMetrics(c.tables, metrics), c.chosen);
    EXPECT_FLOAT_EQ(metrics.unitsPerEm, 2048);
    if (!c.chosen) continue;
    EXPECT_FLOAT_EQ(metrics.ascent, c.ascent);
    EXPECT_FLOAT_EQ(metrics.descent, c.descent);
    EXPECT_FLOAT_EQ(metrics.lineGap, c.lineGap);
    EXPECT_GT(metrics.lineHeight(28), 0);
  }
}

// ---- Layout with real fonts ----------------------------------------------------------------

class LinuxTextLayoutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* path :
         {fixture::kDejaVuSans, fixture::kDejaVuSansBold, fixture::kInterVariable,
          fixture::kNotoArabic, fixture::kNotoDevanagari}) {
      KFP_REQUIRE_INSTALLED_FONT(LinuxTextFixture::available(path), path);
    }
    dejaVu_ = fixture_.collection({{fixture::kDejaVuSans}});
    ASSERT_TRUE(dejaVu_);
    format_ = fixture_.format(dejaVu_, u"DejaVu Sans", 28);
    ASSERT_TRUE(format_);
  }

  std::unique_ptr<LinuxTextLayout> layOut(std::u16string_view text, float width = 300) {
    auto layout = fixture_.layout(text, *format_, width);
    EXPECT_TRUE(layout);
    return layout;
  }

  LinuxTextFixture fixture_;
  std::shared_ptr<const LinuxFontCollection> dejaVu_;
  std::unique_ptr<TextFormat> format_;
};

struct HardBreakLayoutCase {
  const char* name;
  std::u16string text;
  std::vector<std::u16string> lines;
};

TEST_F(LinuxTextLayoutTest, HardBreaksStartLinesAndATrailingBreakAddsAnEmptyLine) {
  const HardBreakLayoutCase cases[] = {
      {"empty text", u"", {u""}},
      {"one line", u"Hello", {u"Hello"}},
      {"LF", u"Hello\nWorld", {u"Hello", u"World"}},
      {"CRLF", u"Hello\r\nWorld", {u"Hello", u"World"}},
      {"CR", u"Hello\rWorld", {u"Hello", u"World"}},
      {"NEL", u"Hello\u0085World", {u"Hello", u"World"}},
      {"LS", u"Hello\u2028World", {u"Hello", u"World"}},
      {"PS", u"Hello\u2029World", {u"Hello", u"World"}},
      {"trailing LF", u"Hello\n", {u"Hello", u""}},
      {"only LF", u"\n", {u"", u""}},
      {"blank line between", u"a\n\nb", {u"a", u"", u"b"}},
  };
  for (const HardBreakLayoutCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto layout = layOut(c.text);
    ASSERT_TRUE(layout);
    std::vector<std::u16string> lines;
    for (const LaidOutLine& line : layout->lines) {
      lines.push_back(c.text.substr(line.textStart, line.textEnd - line.textStart));
    }
    EXPECT_EQ(lines, c.lines);
    TextMetrics metrics;
    ASSERT_TRUE(layout->getMetrics(&metrics));
    EXPECT_EQ(metrics.lineCount, c.lines.size());
    EXPECT_FLOAT_EQ(metrics.height, float(c.lines.size()) * layout->lines[0].height);
    for (size_t i = 1; i < layout->lines.size(); ++i) {
      EXPECT_FLOAT_EQ(layout->lines[i].top, layout->lines[i - 1].top + layout->lines[i - 1].height);
    }
  }
}

TEST_F(LinuxTextLayoutTest, AWordWiderThanTheLineIsBrokenInsideAndEveryLineFits) {
  const std::u16string word = u"Pneumonoultramicroscopicsilicovolcanoconiosis";
  struct Case {
    const char* name;
    std::u16string text;
    float width;
  };
  const Case cases[] = {
      {"word alone", word, 120},
      {"word after short words", u"an " + word + u" ok", 150},
      {"narrow", word, 30},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto layout = layOut(c.text, c.width);
    ASSERT_TRUE(layout);
    EXPECT_GT(layout->lines.size(), 2u);
    for (const LaidOutLine& line : layout->lines) {
      EXPECT_LT(line.textStart, line.textEnd) << "no empty line";
      EXPECT_LE(line.width, c.width + 0.01f);
      EXPECT_GT(line.width, 0);
    }
  }
}

TEST(LinuxTextLayout, SpacesAfterAnEmergencyBreakHangInsteadOfFormingALine) {
  const char kVlGothic[] = "/usr/share/fonts/truetype/vlgothic/VL-Gothic-Regular.ttf";
  struct Case {
    const char* path;
    std::u16string family;
    float fontSize;
    std::u16string text;
    float width;
    uint32_t lineCount;
  };
  const Case cases[] = {
      {fixture::kDejaVuSans, u"DejaVu Sans", 28, u"a b c", 10, 3},
      {fixture::kDejaVuSans, u"DejaVu Sans", 200, u"Hello world", 100, 10},
      {fixture::kNotoColorEmoji, u"Noto Color Emoji", 28, u"\U0001F600 \U0001F600", 20, 2},
      {kVlGothic, u"VL Gothic", 28, u"\u65E5\u672C \u8A9E", 20, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    KFP_REQUIRE_INSTALLED_FONT(LinuxTextFixture::available(c.path), c.path);
    LinuxTextFixture fixture;
    auto format = fixture.format(fixture.collection({{c.path}}), c.family, c.fontSize);
    ASSERT_TRUE(format);
    auto layout = fixture.layout(c.text, *format, c.width);
    ASSERT_TRUE(layout);
    TextMetrics metrics;
    ASSERT_TRUE(layout->getMetrics(&metrics));
    EXPECT_EQ(metrics.lineCount, c.lineCount);
  }
}

TEST_F(LinuxTextLayoutTest, MoreTextGivesMoreLines) {
  std::u16string text;
  uint32_t previous = 0;
  for (int words = 1; words <= 40; words += 3) {
    while (text.size() < size_t(words) * 6) text += u"brown ";
    auto layout = layOut(text, 200);
    ASSERT_TRUE(layout);
    SCOPED_TRACE(words);
    EXPECT_GE(layout->lines.size(), previous);
    previous = static_cast<uint32_t>(layout->lines.size());
  }
  EXPECT_GT(previous, 5u);
}

TEST_F(LinuxTextLayoutTest, TrailingSpacesDoNotForceAWrap) {
  // "Hello" fits in its own width; the spaces after it hang.
  auto word = layOut(u"Hello");
  ASSERT_TRUE(word);
  const float width = word->lines[0].width + 0.5f;
  auto spaced = layOut(u"Hello        ", width);
  ASSERT_TRUE(spaced);
  EXPECT_EQ(spaced->lines.size(), 1u);
  EXPECT_FLOAT_EQ(spaced->lines[0].width, word->lines[0].width);
}

TEST_F(LinuxTextLayoutTest, MissingCharactersShowNotdef) {
  auto layout = layOut(u"a\u4E2D");  // DejaVu Sans has no CJK ideographs
  ASSERT_TRUE(layout);
  ASSERT_EQ(layout->glyphs.size(), 2u);
  EXPECT_NE(layout->glyphs[0].id, 0u);
  EXPECT_EQ(layout->glyphs[1].id, 0u);
}

TEST_F(LinuxTextLayoutTest, KerningAndLigaturesApply) {
  auto ligature = layOut(u"ffi");
  ASSERT_TRUE(ligature);
  EXPECT_LT(ligature->glyphs.size(), 3u) << "DejaVu Sans has an ffi ligature";

  // "AV" kerns tighter than the sum of the single letters.
  auto a = layOut(u"A");
  auto v = layOut(u"V");
  auto av = layOut(u"AV");
  ASSERT_TRUE(a && v && av);
  EXPECT_LT(av->lines[0].width, a->lines[0].width + v->lines[0].width - 0.5f);
}

// Reads one big-endian integer from an sfnt file.
class SfntTables {
 public:
  explicit SfntTables(const char* path)
      : bytes_(std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()),
               std::istreambuf_iterator<char>()) {}
  uint32_t table(const char* tag) const {
    const uint32_t count = u16(4);
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t record = 12 + 16 * i;
      if (bytes_.compare(record, 4, tag) == 0) return u32(record + 8);
    }
    return 0;
  }
  uint32_t u16(uint32_t at) const { return uint8_t(bytes_[at]) << 8 | uint8_t(bytes_[at + 1]); }
  int32_t s16(uint32_t at) const { return int16_t(u16(at)); }
  uint32_t u32(uint32_t at) const { return u16(at) << 16 | u16(at + 2); }

 private:
  std::string bytes_;
};

TEST_F(LinuxTextLayoutTest, LineHeightFollowsTheWinMetricsFormula) {
  const SfntTables font(fixture::kDejaVuSans);
  const uint32_t head = font.table("head"), hhea = font.table("hhea"), os2 = font.table("OS/2");
  ASSERT_TRUE(head && hhea && os2);
  ASSERT_EQ(font.u16(os2 + 62) & 0x80, 0u) << "DejaVu Sans does not set USE_TYPO_METRICS";
  const double unitsPerEm = font.u16(head + 18);
  const double winAscent = font.u16(os2 + 74), winDescent = font.u16(os2 + 76);
  const double hheaSpacing = font.s16(hhea + 4) - font.s16(hhea + 6) + font.s16(hhea + 8);
  const double gap = std::max(0.0, hheaSpacing - (winAscent + winDescent));
  const double expected = (winAscent + winDescent + gap) * 28 / unitsPerEm;

  auto layout = layOut(u"Line one\nLine two");
  ASSERT_TRUE(layout);
  ASSERT_EQ(layout->lines.size(), 2u);
  EXPECT_NEAR(layout->lines[0].height, expected, 1e-3);
  EXPECT_NEAR(layout->lines[0].baseline, winAscent * 28 / unitsPerEm, 1e-3);
  TextMetrics metrics;
  ASSERT_TRUE(layout->getMetrics(&metrics));
  EXPECT_NEAR(metrics.height, 2 * expected, 2e-3);
}

TEST_F(LinuxTextLayoutTest, ComplexScriptsShape) {
  struct Case {
    const char* name;
    const char* path;
    std::u16string family;
    std::u16string text;
  };
  // Arabic letters join (contextual forms) and Devanagari forms conjuncts and reorders matras:
  // either way the glyphs are not the characters one by one.
  const Case cases[] = {
      {"Arabic", fixture::kNotoArabic, u"Noto Sans Arabic", u"\u0633\u0644\u0627\u0645"},
      {"Devanagari", fixture::kNotoDevanagari, u"Noto Sans Devanagari",
       u"\u0915\u094D\u0937\u093F"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto fonts = fixture_.collection({{c.path}});
    ASSERT_TRUE(fonts);
    auto format = fixture_.format(fonts, c.family, 28);
    ASSERT_TRUE(format);
    auto shaped = fixture_.layout(c.text, *format, 300);
    ASSERT_TRUE(shaped);
    std::vector<uint32_t> joined;
    for (const PositionedGlyph& glyph : shaped->glyphs) joined.push_back(glyph.id);
    std::vector<uint32_t> isolated;
    for (char16_t ch : c.text) {
      auto single = fixture_.layout(std::u16string(1, ch), *format, 300);
      ASSERT_TRUE(single);
      for (const PositionedGlyph& glyph : single->glyphs) isolated.push_back(glyph.id);
    }
    EXPECT_NE(joined, isolated);
    for (uint32_t id : joined) EXPECT_NE(id, 0u) << "the font covers the text";
  }
}

TEST_F(LinuxTextLayoutTest, RightToLeftRunsAreOrderedVisually) {
  // Logical "x ALEF BEH y" in a left-to-right paragraph: the Latin letters stay at the ends and
  // the Arabic words between them are reversed.
  const TextFormat& format = *format_;
  auto alef = fixture_.layout(u"\u0627", format, 300);
  auto beh = fixture_.layout(u"\u0628", format, 300);
  auto mixed = fixture_.layout(u"x \u0627 \u0628 y", format, 300);
  ASSERT_TRUE(alef && beh && mixed);
  std::vector<uint32_t> ids;
  for (const PositionedGlyph& glyph : mixed->glyphs) ids.push_back(glyph.id);
  ASSERT_EQ(ids.size(), 7u);
  const uint32_t alefId = alef->glyphs[0].id, behId = beh->glyphs[0].id;
  // Visual order: "x", " ", beh, " ", alef, " ", "y".
  EXPECT_EQ(ids[2], behId);
  EXPECT_EQ(ids[4], alefId);
  for (size_t i = 1; i < mixed->glyphs.size(); ++i) {
    EXPECT_GE(mixed->glyphs[i].x, mixed->glyphs[i - 1].x);
  }
}

TEST_F(LinuxTextLayoutTest, BoldAndObliqueAreSimulatedOnlyWhenTheFaceLacksThem) {
  auto regularOnly = fixture_.collection({{fixture::kDejaVuSans}});
  auto withBold = fixture_.collection({{fixture::kDejaVuSans}, {fixture::kDejaVuSansBold, 700}});
  ASSERT_TRUE(regularOnly && withBold);
  struct Case {
    const char* name;
    std::shared_ptr<const LinuxFontCollection> fonts;
    int weight;
    int style;
    uint32_t simulations;
  };
  const Case cases[] = {
      {"regular", regularOnly, 400, kStyleNormal, 0},
      {"medium is not emboldened", regularOnly, 500, kStyleNormal, 0},
      {"bold from regular", regularOnly, 700, kStyleNormal, kSimulateBold},
      {"semibold from regular", regularOnly, 600, kStyleNormal, kSimulateBold},
      {"bold face present", withBold, 700, kStyleNormal, 0},
      {"black from bold is not emboldened again", withBold, 900, kStyleNormal, 0},
      {"italic from upright", regularOnly, 400, kStyleItalic, kSimulateOblique},
      {"oblique from upright", regularOnly, 400, kStyleOblique, kSimulateOblique},
      {"bold italic from regular", regularOnly, 700, kStyleItalic,
       kSimulateBold | kSimulateOblique},
  };
  auto plain =
      fixture_.layout(u"Hamburgefonts", *fixture_.format(regularOnly, u"DejaVu Sans", 28), 1000);
  ASSERT_TRUE(plain);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto format = fixture_.format(c.fonts, u"DejaVu Sans", 28, c.weight, c.style);
    ASSERT_TRUE(format);
    EXPECT_EQ(static_cast<LinuxTextFormat&>(*format).simulations(), c.simulations);
    auto layout = fixture_.layout(u"Hamburgefonts", *format, 1000);
    ASSERT_TRUE(layout);
    // Simulated bold widens every advance; a real bold face is wider still.
    if (c.simulations & kSimulateBold) {
      EXPECT_NEAR(layout->lines[0].width, plain->lines[0].width + 13 * 28.0f / 24, 0.01);
    }
  }
}

TEST_F(LinuxTextLayoutTest, AxisValuesChangeShapingOfTheSharedFace) {
  auto inter = fixture_.collection({{fixture::kInterVariable}});
  ASSERT_TRUE(inter);
  auto widthAt = [&](float weight) {
    auto format = fixture_.format(inter, u"Inter", 28);
    EXPECT_TRUE(format);
    if (!format) return 0.0f;
    const AxisValue value{kWghtTag, weight};
    EXPECT_TRUE(format->setFontAxisValues({&value, 1}));
    auto layout = fixture_.layout(u"Hamburgefonts", *format, 1000);
    return layout ? layout->lines[0].width : 0.0f;
  };
  const float thin = widthAt(100), black = widthAt(900), thinAgain = widthAt(100);
  EXPECT_GT(black, thin + 5);
  EXPECT_FLOAT_EQ(thinAgain, thin) << "coordinates of one layout do not leak into the next";
  EXPECT_FLOAT_EQ(widthAt(5000), black) << "values are clamped to the axis range";
}

TEST_F(LinuxTextLayoutTest, RememberedShapingIsOnlyReusedForTheSameParagraph) {
  // More texts than the face remembers, laid out twice: the second pass (partly served from the
  // memo) must equal the first, and texts sharing a prefix must not be confused.
  const std::u16string texts[] = {u"Hello", u"Hello!",        u"Hell",          u"ffi fl",
                                  u"AV Wa", u"Hello\nHello!", u"x\u0627\u0628y"};
  std::vector<std::vector<uint32_t>> first;
  for (int pass = 0; pass < 2; ++pass) {
    for (size_t i = 0; i < std::size(texts); ++i) {
      SCOPED_TRACE(::testing::Message() << "pass " << pass << " text " << i);
      auto layout = layOut(texts[i]);
      ASSERT_TRUE(layout);
      std::vector<uint32_t> signature;
      for (const PositionedGlyph& glyph : layout->glyphs) {
        signature.push_back(glyph.id);
        signature.push_back(uint32_t(glyph.x * 64));
      }
      if (pass == 0) {
        first.push_back(signature);
      } else {
        EXPECT_EQ(signature, first[i]);
      }
    }
  }
  EXPECT_NE(first[0], first[1]);
  EXPECT_NE(first[0], first[2]);
}

TEST_F(LinuxTextLayoutTest, LineBreaksAreOnlyReusedForTheSameParagraph) {
  // The same length, the space elsewhere: breaks remembered from the text before would split the
  // long word. Each line is one word at a width that holds the long word alone.
  auto wide = layOut(u"aaaaaaaaa");
  ASSERT_TRUE(wide && wide->lines.size() == 1);
  const float width = wide->lines[0].width + 2;
  const struct {
    std::u16string text;
    std::vector<std::u16string> lines;
  } cases[] = {
      {u"aaaa aaaaaaaaa", {u"aaaa", u"aaaaaaaaa"}},
      {u"aaaaaaaaa aaaa", {u"aaaaaaaaa", u"aaaa"}},
      {u"aaaa aaaaaaaaa", {u"aaaa", u"aaaaaaaaa"}},
      {u"aaaa aaaaaaaaa", {u"aaaa", u"aaaaaaaaa"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.lines[0].size() << " first");
    auto layout = layOut(c.text, width);
    ASSERT_TRUE(layout);
    std::vector<std::u16string> lines;
    for (const LaidOutLine& line : layout->lines) {
      lines.push_back(c.text.substr(line.textStart, line.textEnd - line.textStart));
    }
    EXPECT_EQ(lines, c.lines);
  }
}

TEST_F(LinuxTextLayoutTest, UnknownFamilyOrForeignCollectionGivesNoFormat) {
  EXPECT_FALSE(fixture_.format(dejaVu_, u"No Such Family", 28));
  TextFormatDescription description;
  description.familyName = u"DejaVu Sans";
  description.fontSize = 28;
  EXPECT_FALSE(fixture_.engine().createTextFormat(description)) << "no collection";
}

// ---- Controls and tabs ---------------------------------------------------------------------

// Glyph ids and pen positions (1/64 DIP) of a layout.
std::vector<int64_t> signatureOf(const LinuxTextLayout& layout) {
  std::vector<int64_t> signature;
  for (const PositionedGlyph& glyph : layout.glyphs) {
    signature.push_back(glyph.id);
    signature.push_back(std::lround(glyph.x * 64));
  }
  return signature;
}

TEST_F(LinuxTextLayoutTest, ControlCharactersAreInvisibleAndTakeNoSpace) {
  struct Case {
    const char* name;
    std::u16string text;
    std::u16string without;
  };
  const Case cases[] = {
      {"SOH", u"ab\u0001cd", u"abcd"},
      {"BEL and ESC", u"a\u0007b\u001Bc", u"abc"},
      {"DEL", u"\u007Fabc", u"abc"},
      {"C1 control", u"ab\u0090", u"ab"},
      {"vertical tab and form feed", u"a\u000Bb\u000Cc", u"abc"},
      {"only controls", u"\u0001\u0002\u0003", u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto with = layOut(c.text);
    auto without = layOut(c.without);
    ASSERT_TRUE(with && without);
    ASSERT_EQ(with->lines.size(), 1u);
    EXPECT_EQ(signatureOf(*with), signatureOf(*without));
    EXPECT_NEAR(with->lines[0].width, without->lines[0].width, 1e-3);
    for (const PositionedGlyph& glyph : with->glyphs) EXPECT_NE(glyph.id, 0u) << "no .notdef";
  }
}

TEST_F(LinuxTextLayoutTest, TabsAdvanceToTheNextTabStopAndDrawNothing) {
  const float stop = 4 * 28;  // four font sizes
  struct Case {
    const char* name;
    std::u16string before;  // no tabs
    int tabs;
    std::u16string after;
  };
  const Case cases[] = {
      {"tab at the line start", u"", 1, u"b"},
      {"tab after a short word", u"a", 1, u"b"},
      {"tab after a word past the first stop", u"aaaaaaaaa", 1, u"b"},
      {"two tabs", u"a", 2, u"b"},
      {"tab after right-to-left text", u"\u05D0\u05D1", 1, u"b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto before = layOut(c.before);
    auto after = layOut(c.after);
    auto text = layOut(c.before + std::u16string(size_t(c.tabs), u'\t') + c.after, 1000);
    ASSERT_TRUE(before && after && text);
    ASSERT_EQ(text->lines.size(), 1u);
    ASSERT_EQ(text->glyphs.size(), before->glyphs.size() + after->glyphs.size())
        << "tabs draw nothing";
    const float firstStop = (std::floor(before->lines[0].width / stop) + 1) * stop;
    const float expected = firstStop + float(c.tabs - 1) * stop;
    EXPECT_NEAR(text->glyphs[before->glyphs.size()].x, expected, 1e-3);
    EXPECT_NEAR(text->lines[0].width, expected + after->lines[0].width, 1e-3);
    for (const PositionedGlyph& glyph : text->glyphs) EXPECT_NE(glyph.id, 0u) << "no .notdef";
  }
}

TEST_F(LinuxTextLayoutTest, TabsWrapLikeSpacesButMeasureToTheirStop) {
  struct Case {
    const char* name;
    std::u16string text;
    float width;
    std::vector<std::u16string> lines;
  };
  const Case cases[] = {
      {"a space would fit, the tab stop does not", u"a\tbbb", 150, {u"a", u"bbb"}},
      {"same text with a space", u"a bbb", 150, {u"a bbb"}},
      {"fits after the stop", u"a\tbbb", 200, {u"a\tbbb"}},
      {"trailing tabs hang", u"Hello\t\t", 80, {u"Hello"}},
      {"stops restart on the next line", u"aaaa\tbbbbbbbb\tc", 250, {u"aaaa", u"bbbbbbbb\tc"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto layout = layOut(c.text, c.width);
    ASSERT_TRUE(layout);
    std::vector<std::u16string> lines;
    for (const LaidOutLine& line : layout->lines) {
      lines.push_back(c.text.substr(line.textStart, line.textEnd - line.textStart));
      EXPECT_LE(line.width, c.width + 0.01f);
      for (uint32_t g = line.glyphStart; g < line.glyphEnd; ++g) {
        EXPECT_LE(layout->glyphs[g].x, line.width) << "glyphs stay on the measured line";
      }
    }
    EXPECT_EQ(lines, c.lines);
  }
}

// ---- Variation values and units per em ----------------------------------------------------

TEST_F(LinuxTextLayoutTest, NonFiniteAxisValuesAreSkippedNotFatal) {
  auto inter = fixture_.collection({{fixture::kInterVariable}});
  ASSERT_TRUE(inter);
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  auto widthWith = [&](std::vector<AxisValue> values) {
    auto format = fixture_.format(inter, u"Inter", 28);
    EXPECT_TRUE(format);
    if (!format) return 0.0f;
    EXPECT_TRUE(format->setFontAxisValues(values));
    auto layout = fixture_.layout(u"Hamburgefonts", *format, 1000);
    return layout ? layout->lines[0].width : 0.0f;
  };
  const float plain = widthWith({});
  const float black = widthWith({{kWghtTag, 900}});
  ASSERT_GT(black, plain + 5);
  struct Case {
    const char* name;
    std::vector<AxisValue> values;
    float width;
  };
  const Case cases[] = {
      {"infinity alone", {{kWghtTag, inf}}, plain},
      {"minus infinity alone", {{kWghtTag, -inf}}, plain},
      {"NaN alone", {{kWghtTag, nan}}, plain},
      {"infinity then a value", {{kWghtTag, inf}, {kWghtTag, 900}}, black},
      {"a value then infinity", {{kWghtTag, 900}, {kWghtTag, inf}}, black},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FLOAT_EQ(widthWith(c.values), c.width);
  }
}

// DejaVu Sans with head.unitsPerEm replaced, which HarfBuzz rejects below 16 and above 16384.
std::string withUnitsPerEm(uint16_t unitsPerEm) {
  std::ifstream in(fixture::kDejaVuSans, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const SfntTables tables(fixture::kDejaVuSans);
  const uint32_t head = tables.table("head");
  bytes[head + 18] = char(unitsPerEm >> 8);
  bytes[head + 19] = char(unitsPerEm & 0xFF);
  return bytes;
}

TEST(DesignUnitScale, FollowsTheEmHarfBuzzShapesWith) {
  KFP_REQUIRE_INSTALLED_FONT(LinuxTextFixture::available(fixture::kDejaVuSans),
                             fixture::kDejaVuSans);
  struct Case {
    const char* name;
    uint16_t unitsPerEm;
    float scale;
  };
  const Case cases[] = {
      {"valid", 2048, 28.0f / 2048},
      {"too large: HarfBuzz shapes in 1000", 20000, 28.0f / 1000},
      {"too small: HarfBuzz shapes in 1000", 8, 28.0f / 1000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string bytes = withUnitsPerEm(c.unitsPerEm);
    HbBlobPtr blob(hb_blob_create(bytes.data(), unsigned(bytes.size()), HB_MEMORY_MODE_READONLY,
                                  nullptr, nullptr));
    HbFacePtr face(hb_face_create(blob.get(), 0));
    HbFontPtr font(hb_font_create(face.get()));
    EXPECT_FLOAT_EQ(designUnitScale(font.get(), 28), c.scale);
  }
}

}  // namespace
}  // namespace kfp::linux_backend

namespace kfp::linux_backend {
namespace {

constexpr char kNotoTamilSupplement[] =
    "/usr/share/fonts/truetype/noto/NotoSansTamilSupplement-Regular.ttf";
constexpr char kNotoSiyaqNumbers[] =
    "/usr/share/fonts/truetype/noto/NotoSansIndicSiyaqNumbers-Regular.ttf";

// A face without a space glyph draws its .notdef for spaces, as for every character it lacks.
TEST(LinuxTextLayoutFaces, SpacesAFaceLacksShowNotdef) {
  LinuxTextFixture fixture;
  ASSERT_TRUE(LinuxTextFixture::available(kNotoTamilSupplement));
  ASSERT_TRUE(LinuxTextFixture::available(fixture::kDejaVuSans));
  auto tamil = fixture.collection({{kNotoTamilSupplement}});
  auto dejaVu = fixture.collection({{fixture::kDejaVuSans}});
  ASSERT_TRUE(tamil && dejaVu);
  auto tamilFormat = fixture.format(tamil, u"Noto Sans Tamil Supplement", 8);
  auto dejaVuFormat = fixture.format(dejaVu, u"DejaVu Sans", 8);
  ASSERT_TRUE(tamilFormat && dejaVuFormat);
  struct Case {
    const char* name;
    const TextFormat* format;
    std::u16string text;
    float width;
    size_t lines;
    bool spacesAreNotdef;
  };
  const Case cases[] = {
      {"missing space", tamilFormat.get(), u"a b", 12, 2, true},
      {"missing em space", tamilFormat.get(), u"a\u2003b", 12, 2, true},
      // A face with a space keeps its own space and the shaper's widths for other spaces.
      {"present space", dejaVuFormat.get(), u"a b", 30, 1, false},
      {"em space from the space glyph", dejaVuFormat.get(), u"a\u2003b", 30, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto layout = fixture.layout(c.text, *c.format, c.width);
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->lines.size(), c.lines);
    auto wide = fixture.layout(c.text, *c.format, 1000);
    ASSERT_TRUE(wide);
    ASSERT_EQ(wide->glyphs.size(), 3u);
    EXPECT_EQ(wide->glyphs[1].id == 0, c.spacesAreNotdef);
    // .notdef has ink and an advance: the space takes its room.
    if (c.spacesAreNotdef) {
      auto notdef = fixture.layout(u"\u4E00", *c.format, 1000);
      ASSERT_TRUE(notdef);
      EXPECT_FLOAT_EQ(wide->glyphs[2].x - wide->glyphs[1].x, notdef->lines[0].width);
    }
  }
}

// Neutral characters belong to the script run around them, whatever their bidi level.
TEST(LinuxTextLayoutFaces, NeutralRunsTakeTheScriptOfTheirScriptRun) {
  LinuxTextFixture fixture;
  ASSERT_TRUE(LinuxTextFixture::available(kNotoSiyaqNumbers));
  auto siyaq = fixture.collection({{kNotoSiyaqNumbers}});
  ASSERT_TRUE(siyaq);
  auto format = fixture.format(siyaq, u"Noto Sans Indic Siyaq Numbers", 40);
  ASSERT_TRUE(format);
  hb_font_t* font = static_cast<const LinuxTextFormat&>(*format).face()->hbFont();
  std::unique_ptr<LayoutEngine> engine = LayoutEngine::create();
  ASSERT_TRUE(engine);
  struct Case {
    const char* name;
    std::u16string text;
    std::vector<hb_script_t> scripts;  // one per run
  };
  const Case cases[] = {
      // Alef (level 1), an Arabic-Indic digit (level 2), then Siyaq numbers (common) back at 1.
      {"numbers after a level change",
       u"\u0627\u0667\U0001EC74\U0001EC7C",
       {HB_SCRIPT_ARABIC, HB_SCRIPT_ARABIC, HB_SCRIPT_ARABIC}},
      {"leading neutrals take the first script",
       u"12 \u0627\u0628",
       {HB_SCRIPT_ARABIC, HB_SCRIPT_ARABIC}},
      {"latin then hebrew digits",
       u"ab \u05D0\u05D1 12",
       {HB_SCRIPT_LATIN, HB_SCRIPT_HEBREW, HB_SCRIPT_HEBREW}},
      {"all neutral", u"12 34", {HB_SCRIPT_COMMON}},
      {"script change at one level", u"ab\u0391\u0392", {HB_SCRIPT_LATIN, HB_SCRIPT_GREEK}},
      {"combining mark stays with its base", u"a\u0301\u0391", {HB_SCRIPT_LATIN, HB_SCRIPT_GREEK}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ShapeMemo memo;
    ASSERT_TRUE(engine->shapeParagraph(c.text, font, hb_language_from_string("en", -1), memo, 0));
    EXPECT_EQ(engine->runScripts(), c.scripts);
  }
}

}  // namespace
}  // namespace kfp::linux_backend
