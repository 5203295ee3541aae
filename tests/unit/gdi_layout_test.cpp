#include "layout/gdi_layout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "protocol/message_types.h"
#include "support/fake_gdi.h"

namespace kfp {
namespace {

using testing::FakeGdi;

std::u16string nameOfLength(size_t length) {
  return std::u16string(length, u'F');
}

TEST(CreateGdiFontTest, FaceCheck) {
  const struct {
    const char* name;
    std::u16string family;
    std::u16string selectedFace;  // empty: the backend selects the requested name
    int textFaceResult;
    bool created;  // a font was asked of the backend
    bool accepted;
  } kCases[] = {
      {"selected face", u"Terminus", u"", 0, true, true},
      {"differs only in case", u"terminus", u"Terminus", 0, true, true},
      {"substitute face", u"No Such Family", u"DejaVu Sans", 0, true, false},
      {"selected face is a prefix", u"Terminus Bold", u"Terminus", 0, true, false},
      {"requested name is a prefix", u"Terminus", u"Terminus Bold", 0, true, false},
      {"31 code units are tried", nameOfLength(31), u"", 0, true, true},
      {"32 code units are refused", nameOfLength(32), u"", 0, false, false},
      {"empty name is refused", u"", u"", 0, false, false},
      {"unreadable face name", u"Terminus", u"", -1, true, false},
      {"count reaches past the terminating zero", u"Terminus", u"", 32, true, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    FakeGdi gdi;
    gdi.textFaceResult = c.textFaceResult;
    if (!c.selectedFace.empty()) {
      gdi.selectFace = [&](const GdiFontRequest&) { return c.selectedFace; };
    }
    std::unique_ptr<GdiFont> font = createGdiFont(gdi, c.family, 400, false, 28, 1);
    EXPECT_EQ(gdi.createdFonts.size(), c.created ? 1u : 0u);
    EXPECT_EQ(font != nullptr, c.accepted);
    font.reset();
    EXPECT_TRUE(gdi.allReleased());
  }
}

TEST(CreateGdiFontTest, PlatformFailuresGiveNoFont) {
  const struct {
    const char* name;
    bool failCreateFont;
    int failDeviceContextCall;
    bool failSelectFont;
  } kCases[] = {
      {"font creation", true, -1, false},
      {"device context", false, 0, false},
      {"selection", false, -1, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    FakeGdi gdi;
    gdi.failCreateFont = c.failCreateFont;
    gdi.failDeviceContextCall = c.failDeviceContextCall;
    gdi.failSelectFont = c.failSelectFont;
    EXPECT_EQ(createGdiFont(gdi, u"Terminus", 400, false, 28, 1), nullptr);
    EXPECT_TRUE(gdi.allReleased());
  }
}

TEST(CreateGdiFontTest, FontDescription) {
  const struct {
    float fontSize;
    float dpiScale;
    int32_t weight;
    bool italic;
    int32_t height;
  } kCases[] = {
      {28, 2, 400, false, -56},   {28, 1, 700, true, -28},   {10.5f, 1, 400, false, -11},
      {13, 1.5f, 300, true, -20}, {4, 0.5f, 400, false, -2}, {256, 8, 400, false, -2048},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::Message() << c.fontSize << " x " << c.dpiScale);
    FakeGdi gdi;
    createGdiFont(gdi, u"Terminus", c.weight, c.italic, c.fontSize, c.dpiScale);
    ASSERT_EQ(gdi.createdFonts.size(), 1u);
    const GdiFontRequest& request = gdi.createdFonts[0];
    EXPECT_EQ(request.height, c.height);
    EXPECT_EQ(request.weight, c.weight);
    EXPECT_EQ(request.italic, c.italic);
    EXPECT_EQ(request.charSet, 1);
    EXPECT_EQ(request.quality, 4);
    EXPECT_EQ(request.faceName, u"Terminus");
  }
}

ResolvedFont gdiEntry(int style = kStyleNormal, int weight = 400) {
  ResolvedFont entry;
  entry.computed = entry.found = true;
  entry.kind = FontKind::kGdi;
  entry.familyName = u"Terminus";
  entry.weight = weight;
  entry.style = style;
  return entry;
}

TEST(MeasureGdiLayoutTest, HeightAndLineCount) {
  const struct {
    const char* name;
    std::u16string text;
    GdiTextMetrics metrics;
    float dpiScale;
    uint32_t lineCount;
    float height;
  } kCases[] = {
      {"3 lines of 66 px at scale 2", u"a\nb\nc", {60, 6}, 2, 3, 99},
      {"empty text is one line", u"", {16, 0}, 1, 1, 16},
      {"empty text at scale 1.5", u"", {16, 0}, 1.5f, 1, 16 / 1.5f},
      {"empty second paragraph", u"a\n\nb", {12, 0}, 1, 3, 36},
      {"line pitch at least one pixel", u"a\nb", {0, 0}, 1, 2, 2},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    FakeGdi gdi;
    gdi.metrics = c.metrics;
    const LayoutResult r = measureGdiLayout(gdi, gdiEntry(), c.text, 28, 300, c.dpiScale);
    ASSERT_TRUE(r.resolved) << r.error;
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.lineCount, c.lineCount);
    EXPECT_FLOAT_EQ(r.height, c.height);
    EXPECT_TRUE(gdi.allReleased());
  }
}

// The bitmap is ceil(height * dpiScale) rows high; it must be exactly the lines, with no spare row,
// also at scales where the plain quotient rounds one ulp high.
TEST(MeasureGdiLayoutTest, HeightComesBackToWholeLines) {
  const struct {
    float dpiScale;
    int32_t lineHeight;
    uint32_t lines;
  } kCases[] = {
      {0.51f, 61, 1}, {0.51f, 95, 1}, {0.51f, 61, 2}, {1.25f, 16, 3}, {1.1f, 13, 7},
      {2.5f, 33, 5},  {3.3f, 41, 9},  {7.77f, 97, 4}, {1.5f, 16, 1},  {2, 66, 3},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::Message() << c.dpiScale << " x " << c.lineHeight << " x " << c.lines);
    FakeGdi gdi;
    gdi.metrics = {c.lineHeight, 0};
    std::u16string text = u"a";
    for (uint32_t i = 1; i < c.lines; ++i) text += u"\na";
    const LayoutResult r = measureGdiLayout(gdi, gdiEntry(), text, 28, 300, c.dpiScale);
    ASSERT_TRUE(r.resolved);
    ASSERT_EQ(r.lineCount, c.lines);
    EXPECT_EQ(std::ceil(r.height * c.dpiScale), float(c.lines * c.lineHeight));
    // No more than one ulp below the plain quotient.
    const float quotient = float(c.lines * c.lineHeight) / c.dpiScale;
    EXPECT_GE(r.height, std::nextafter(quotient, 0.0f));
  }
}

TEST(MeasureGdiLayoutTest, KeepsWhatDrawingNeeds) {
  const struct {
    int style;
    bool italic;
  } kCases[] = {{kStyleNormal, false}, {kStyleOblique, true}, {kStyleItalic, true}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.style);
    FakeGdi gdi;
    const LayoutResult r = measureGdiLayout(gdi, gdiEntry(c.style, 700), u"ab cd", 28, 300, 2);
    ASSERT_TRUE(r.resolved);
    EXPECT_EQ(r.kind(), FontKind::kGdi);
    ASSERT_NE(r.gdiLayout(), nullptr);
    EXPECT_EQ(r.gdiLayout()->text, u"ab cd");
    EXPECT_EQ(r.gdiLayout()->familyName, u"Terminus");
    EXPECT_EQ(r.gdiLayout()->weight, 700);
    EXPECT_EQ(r.gdiLayout()->italic, c.italic);
    EXPECT_EQ(r.gdiLayout()->fontSize, 28);
    EXPECT_EQ(r.gdiLayout()->width, 300);
    EXPECT_EQ(r.gdiLayout()->dpiScale, 2);
    EXPECT_EQ(r.textLayout(), nullptr);
    // The font is built at the device pixel size; lines wrap at the device pixel width.
    ASSERT_FALSE(gdi.createdFonts.empty());
    EXPECT_EQ(gdi.createdFonts[0].height, -56);
    EXPECT_EQ(gdi.createdFonts[0].italic, c.italic);
    EXPECT_EQ(gdi.extentLimits, std::vector<int>{600});
  }
}

TEST(MeasureGdiLayoutTest, MaxWidthRoundsUp) {
  FakeGdi gdi;
  measureGdiLayout(gdi, gdiEntry(), u"ab", 28, 100.1f, 1.5f);
  EXPECT_EQ(gdi.extentLimits, std::vector<int>{151});
}

TEST(MeasureGdiLayoutTest, FailureCodes) {
  const struct {
    const char* name;
    void (*script)(FakeGdi&);
    std::string_view error;
  } kCases[] = {
      {"font creation", [](FakeGdi& g) { g.failCreateFont = true; }, errors::kGdiFontFailed},
      {"substitute face",
       [](FakeGdi& g) {
         g.selectFace = [](const GdiFontRequest&) { return std::u16string(u"X"); };
       },
       errors::kGdiFontFailed},
      {"face check context", [](FakeGdi& g) { g.failDeviceContextCall = 0; },
       errors::kGdiFontFailed},
      {"measuring context", [](FakeGdi& g) { g.failDeviceContextCall = 1; },
       errors::kGdiFontFailed},
      {"font selection", [](FakeGdi& g) { g.failSelectFontCall = 1; }, errors::kGdiMeasureFailed},
      {"text metrics", [](FakeGdi& g) { g.failTextMetrics = true; }, errors::kGdiMeasureFailed},
      {"text extent", [](FakeGdi& g) { g.failTextExtent = true; }, errors::kGdiMeasureFailed},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    FakeGdi gdi;
    c.script(gdi);
    const LayoutResult r = measureGdiLayout(gdi, gdiEntry(), u"ab", 28, 300, 1);
    EXPECT_FALSE(r.resolved);
    EXPECT_EQ(r.error, c.error);
    EXPECT_EQ(r.height, 0);
    EXPECT_EQ(r.lineCount, 0u);
    EXPECT_EQ(r.gdiLayout(), nullptr);
    EXPECT_TRUE(gdi.allReleased());
  }
}

}  // namespace
}  // namespace kfp
