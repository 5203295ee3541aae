#include "layout/measure_layout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "host/renderer_context.h"
#include "layout/resolved_font_cache.h"
#include "protocol/message_types.h"
#include "support/fake_backend.h"
#include "support/fake_gdi.h"
#include "support/registered_fonts.h"

namespace kfp {
namespace {

using testing::FakeBackend;
using testing::FakeTextEngine;
using testing::matchedFamily;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

class MeasureLayoutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ctx.initialize());
    RegisteredFont font;
    font.postScriptName = u"PS";
    font.weight = 300;
    font.stretch = 7;
    font.style = kStyleOblique;
    font.axisValues = {{kWghtTag, 300.0f}, {axisTag('o', 'p', 's', 'z'), 12.0f}};
    testing::activateFonts(ctx.registry(), {{u"f", font}});
    fonts = matchedFamily(u"Fam");
    backend.textEngine->systemFonts->onProperty(FontPropertyId::kPostScriptName, u"PS", fonts);
  }
  FakeTextEngine& engine() { return *backend.textEngine; }
  LayoutResult measure(const std::u16string& text = u"Hello", float fontSize = 28,
                       float width = 300, float dpiScale = 1, const std::u16string& id = u"f") {
    return measureLayout(ctx.platform(), ctx.registry(), ctx.resolvedFonts(), id, text, fontSize,
                         width, dpiScale);
  }

  FakeBackend backend;
  RendererContext ctx{backend};
  std::shared_ptr<testing::FakeFontSet> fonts;
};

void expectFailed(const LayoutResult& result, std::string_view error) {
  EXPECT_FALSE(result.resolved);
  EXPECT_EQ(result.error, error);
  EXPECT_EQ(result.height, 0.0f);
  EXPECT_EQ(result.lineCount, 0u);
  EXPECT_EQ(result.textLayout(), nullptr);
}

TEST_F(MeasureLayoutTest, BuildsTheFormatAndLayoutFromTheEntry) {
  engine().metrics = {33.52f, 3};
  LayoutResult result = measure(u"Hello", 28, 300, 2);
  ASSERT_TRUE(result.resolved);
  EXPECT_TRUE(result.error.empty());
  EXPECT_EQ(result.kind(), FontKind::kDirectWrite);
  EXPECT_EQ(result.lineCount, 3u);
  EXPECT_EQ(result.height, 34.0f);
  ASSERT_NE(result.textLayout(), nullptr);
  EXPECT_EQ(engine().liveLayouts, 1);
  EXPECT_EQ(engine().liveFormats, 0);

  ASSERT_EQ(engine().formats.size(), 1u);
  const auto& format = engine().formats[0];
  EXPECT_EQ(format.familyName, u"Fam");
  EXPECT_EQ(format.fontCollection, fonts->collection);
  EXPECT_EQ(format.weight, 300);
  EXPECT_EQ(format.stretch, 7);
  EXPECT_EQ(format.style, kStyleOblique);
  EXPECT_EQ(format.fontSize, 28.0f);  // not scaled by dpiScale
  EXPECT_EQ(format.localeName, u"en-us");
  ASSERT_EQ(format.axisCalls.size(), 1u);
  EXPECT_EQ(format.axisCalls[0], ctx.registry().findRegisteredFont(u"f")->axisValues);
  EXPECT_EQ(format.wrapping, std::vector{WordWrapping::kEmergencyBreak});
  EXPECT_EQ(format.textAlignment, std::vector{TextAlignment::kLeading});
  EXPECT_EQ(format.paragraphAlignment, std::vector{ParagraphAlignment::kNear});

  ASSERT_EQ(engine().layouts.size(), 1u);
  EXPECT_EQ(engine().layouts[0].text, u"Hello");
  EXPECT_EQ(engine().layouts[0].maxWidth, 300.0f);
  EXPECT_EQ(engine().layouts[0].maxHeight, 100000.0f);
}

TEST_F(MeasureLayoutTest, PlatformFailures) {
  struct Case {
    const char* name;
    bool FakeTextEngine::*flag;
    std::string_view error;
  };
  const Case cases[] = {
      {"format", &FakeTextEngine::failTextFormat, errors::kTextFormatFailed},
      {"axes", &FakeTextEngine::failAxes, errors::kFontAxisFailed},
      {"layout", &FakeTextEngine::failTextLayout, errors::kTextLayoutFailed},
      {"metrics", &FakeTextEngine::failMetrics, errors::kTextMetricsFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    engine().*c.flag = true;
    expectFailed(measure(), c.error);
    EXPECT_EQ(engine().liveLayouts, 0);
    EXPECT_EQ(engine().liveFormats, 0);
    engine().*c.flag = false;
  }
  // The failures leave the cached entry usable.
  EXPECT_TRUE(measure().resolved);
}

TEST_F(MeasureLayoutTest, AxisValuesOnlyWhenPresentAndSupported) {
  struct Case {
    const char* name;
    bool hasAxes;
    bool supported;
    size_t axisCalls;
  };
  const Case cases[] = {
      {"applied", true, true, 1},
      {"unsupported", true, false, 0},
      {"none registered", false, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.hasAxes) {
      RegisteredFont withoutAxes = *ctx.registry().findRegisteredFont(u"f");
      withoutAxes.axisValues.clear();
      testing::activateFonts(ctx.registry(), {{u"f", withoutAxes}});
    }
    ctx.resolvedFonts().clear();
    engine().formats.clear();
    engine().supportsAxes = c.supported;
    engine().failAxes = true;  // a call, where one is made, fails
    LayoutResult result = measure();
    EXPECT_EQ(result.resolved, c.axisCalls == 0);
    ASSERT_EQ(engine().formats.size(), 1u);
    EXPECT_EQ(engine().formats[0].axisCalls.size(), c.axisCalls);
  }
}

TEST_F(MeasureLayoutTest, ParameterValidation) {
  struct Case {
    const char* name;
    size_t textLength;
    float fontSize, width, dpiScale;
    bool valid;
  };
  const Case cases[] = {
      {"defaults", 5, 28, 300, 1, true},
      {"empty text", 0, 28, 300, 1, true},
      {"200 units", 200, 28, 300, 1, true},
      {"201 units", 201, 28, 300, 1, false},
      {"size 4", 5, 4, 300, 1, true},
      {"size 256", 5, 256, 300, 1, true},
      {"size 3.99", 5, 3.99f, 300, 1, false},
      {"size 256.5", 5, 256.5f, 300, 1, false},
      {"size NaN", 5, kNaN, 300, 1, false},
      {"width 1", 5, 28, 1, 1, true},
      {"width 8192", 5, 28, 8192, 1, true},
      {"width 0.5", 5, 28, 0.5f, 1, false},
      {"width 8192.5", 5, 28, 8192.5f, 1, false},
      {"width NaN", 5, 28, kNaN, 1, false},
      {"width infinite", 5, 28, std::numeric_limits<float>::infinity(), 1, false},
      {"scale 0.5", 5, 28, 300, 0.5f, true},
      {"scale 8", 5, 28, 300, 8, true},
      {"scale 0.49", 5, 28, 300, 0.49f, false},
      {"scale 8.01", 5, 28, 300, 8.01f, false},
      {"scale NaN", 5, 28, 300, kNaN, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    engine().formats.clear();
    LayoutResult result =
        measure(std::u16string(c.textLength, u'x'), c.fontSize, c.width, c.dpiScale);
    EXPECT_EQ(result.resolved, c.valid);
    if (!c.valid) {
      expectFailed(result, errors::kInvalidLayout);
      EXPECT_TRUE(engine().formats.empty());
    }
  }
}

TEST_F(MeasureLayoutTest, SurrogatePairsCountAsTwoUnits) {
  std::u16string text(198, u'x');
  text += u"\U0001F600";
  EXPECT_TRUE(measure(text).resolved);
  text += u"x";
  expectFailed(measure(text), errors::kInvalidLayout);
}

TEST_F(MeasureLayoutTest, FontErrorComesBeforeValidation) {
  RegisteredFont missing;
  missing.familyName = u"Nowhere";
  testing::activateFonts(ctx.registry(), {{u"missing", missing}});
  struct Case {
    std::u16string id;
    std::string_view error;
  };
  const Case cases[] = {{u"unregistered", errors::kFontNotRegistered},
                        {u"missing", errors::kFontNotFound}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    expectFailed(measure(std::u16string(500, u'x'), 1000, 0, kNaN, c.id), c.error);
  }
}

TEST_F(MeasureLayoutTest, GdiEntriesAreValidatedThenMeasuredByTheGdiPath) {
  testing::FakeGdi gdi;
  backend.gdiOverride = &gdi;
  RegisteredFont bitmapOnly;
  bitmapOnly.familyName = u"Terminus";
  testing::activateFonts(ctx.registry(), {{u"gdi", bitmapOnly}});

  expectFailed(measure(u"Hello", 28, 8192.5f, 1, u"gdi"), errors::kInvalidLayout);
  LayoutResult result = measure(u"Hello", 28, 300, 1, u"gdi");
  EXPECT_TRUE(result.resolved);
  EXPECT_EQ(result.kind(), FontKind::kGdi);
  ASSERT_NE(result.gdiLayout(), nullptr);
  EXPECT_EQ(result.gdiLayout()->familyName, u"Terminus");
  EXPECT_EQ(result.textLayout(), nullptr);
  EXPECT_TRUE(engine().formats.empty());
}

TEST(RoundLayoutHeight, WholeDevicePixels) {
  struct Case {
    float height, dpiScale, expected;
  };
  const Case cases[] = {
      {33.52f, 1.25f, 33.6f},   {0.5f, 1.5f, 1.3333334f}, {0.25f, 1.0f, 1.0f},
      {0.0f, 1.0f, 1.0f},       {20.2f, 1.0f, 21.0f},     {34.0f, 1.5f, 34.0f},
      {1.0f, 1.5f, 1.3333334f}, {kNaN, 2.0f, 1.0f},       {-5.0f, 1.0f, 1.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.height << " at " << c.dpiScale);
    EXPECT_EQ(roundLayoutHeight(c.height, c.dpiScale), c.expected);
  }
}

}  // namespace
}  // namespace kfp

namespace kfp {
namespace {

TEST(HeightOfPixels, RoundTripsThroughTheBitmapSizeRule) {
  // Every scale in steps of 0.01 and every pixel count a layout can reach: the rasterizer must
  // get back exactly the pixel rows that were measured.
  for (int hundredths = 50; hundredths <= 800; ++hundredths) {
    const float scale = static_cast<float>(hundredths) / 100.0f;
    for (int pixels = 1; pixels <= 4000; pixels += 7) {
      const float height = heightOfPixels(static_cast<float>(pixels), scale);
      ASSERT_EQ(std::ceil(height * scale), static_cast<float>(pixels))
          << "scale " << scale << " pixels " << pixels;
    }
  }
  EXPECT_EQ(std::ceil(heightOfPixels(61, 0.51f) * 0.51f), 61.0f);
}

}  // namespace
}  // namespace kfp
