// Matching installed fonts through the text engine's system font set, the way font lookup uses it.

#include <gtest/gtest.h>

#include <string>

#include "fonts/font_lookup_steps.h"
#include "platform/linux/fonts/font_index.h"
#include "platform/linux/fonts/font_set.h"
#include "platform/linux/text/text_engine.h"

namespace kfp::linux_backend {
namespace {

std::string narrow(std::u16string_view text) {
  return std::string(text.begin(), text.end());
}

std::u16string valueOf(const FontSetRef& set, uint32_t index, FontPropertyId id) {
  if (!set || index >= set->fontCount()) return u"<no font>";
  auto values = set->propertyValues(index, id);
  if (!values) return u"<no value>";
  uint32_t at = 0;
  if (!values->findLocaleName(u"en-US", &at)) at = 0;
  std::u16string text;
  return values->getString(at, &text) ? text : u"<unreadable>";
}

class SystemFontSet : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    auto index = FontIndex::build();
    ASSERT_NE(index, nullptr);
    index_ = index;
    engine_ = new LinuxTextEngine(FaceStore::create(), index);
    set_ = engine_->getSystemFontSet();
    ASSERT_TRUE(set_);
  }
  static void TearDownTestSuite() {
    set_.reset();
    delete engine_;
    index_.reset();
  }
  static std::shared_ptr<const FontIndex> index_;
  static LinuxTextEngine* engine_;
  static FontSetRef set_;
};
std::shared_ptr<const FontIndex> SystemFontSet::index_;
LinuxTextEngine* SystemFontSet::engine_ = nullptr;
FontSetRef SystemFontSet::set_;

TEST_F(SystemFontSet, PropertyMatchFindsExactNamesOnly) {
  struct Case {
    FontPropertyId id;
    std::u16string_view value;
    std::u16string_view firstPostScript;  // "<no font>": nothing matches
  };
  const Case cases[] = {
      {FontPropertyId::kPostScriptName, u"DejaVuSans-Bold", u"DejaVuSans-Bold"},
      {FontPropertyId::kPostScriptName, u"DEJAVUSANS-bold", u"DejaVuSans-Bold"},
      {FontPropertyId::kFullName, u"DejaVu Sans Bold", u"DejaVuSans-Bold"},
      {FontPropertyId::kFullName, u"dejavu sans condensed bold", u"DejaVuSansCondensed-Bold"},
      {FontPropertyId::kTypographicFamilyName, u"DejaVu Sans", u"DejaVuSans"},
      {FontPropertyId::kWeightStretchStyleFamilyName, u"DejaVu Serif", u"DejaVuSerif"},
      {FontPropertyId::kWin32FamilyName, u"DejaVu Sans Condensed", u"DejaVuSansCondensed"},
      {FontPropertyId::kWin32FamilyName, u"DejaVu Sans Light", u"DejaVuSans-ExtraLight"},
      {FontPropertyId::kTypographicFamilyName, u"Noto Color Emoji", u"NotoColorEmoji"},
      // Nothing installed has these: fontconfig would substitute, the set must not.
      {FontPropertyId::kTypographicFamilyName, u"Arial", u"<no font>"},
      {FontPropertyId::kTypographicFamilyName, u"sans-serif", u"<no font>"},
      {FontPropertyId::kFullName, u"DejaVuSans Bold", u"<no font>"},
      {FontPropertyId::kPostScriptName, u"DejaVu Sans", u"<no font>"},
      {FontPropertyId::kTypographicFamilyName, u"DejaVu", u"<no font>"},
      // Bitmap-only faces are outside the engine's set.
      {FontPropertyId::kWin32FamilyName, u"Terminus", u"<no font>"},
      {FontPropertyId::kPostScriptName, u"TerminusBold", u"<no font>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(narrow(c.value));
    FontSetRef matched = set_->asAxisAware()->matchProperty({c.id, c.value}, {});
    ASSERT_NE(matched, nullptr);
    EXPECT_EQ(narrow(valueOf(matched, 0, FontPropertyId::kPostScriptName)),
              narrow(c.firstPostScript));
    EXPECT_EQ(set_->matchProperty({c.id, c.value})->fontCount(), matched->fontCount());
  }
  EXPECT_FALSE(index_->byWin32Family(u"Terminus").empty());
}

TEST_F(SystemFontSet, FamilyMatchPutsTheRequestedStyleFirst) {
  struct Case {
    std::u16string_view family;
    int weight, stretch, style;
    std::u16string_view firstPostScript;
  };
  const Case cases[] = {
      {u"DejaVu Sans", 400, 5, kStyleNormal, u"DejaVuSans"},
      {u"DejaVu Sans", 700, 5, kStyleNormal, u"DejaVuSans-Bold"},
      {u"dejavu sans", 700, 5, kStyleNormal, u"DejaVuSans-Bold"},
      {u"DejaVu Sans", 400, 5, kStyleItalic, u"DejaVuSans-Oblique"},
      {u"DejaVu Sans", 800, 5, kStyleItalic, u"DejaVuSans-BoldOblique"},
      {u"DejaVu Sans", 300, 5, kStyleNormal, u"DejaVuSans-ExtraLight"},
      {u"DejaVu Sans", 700, 4, kStyleNormal, u"DejaVuSansCondensed-Bold"},
      {u"DejaVu Sans", 400, 3, kStyleNormal, u"DejaVuSansCondensed"},
      {u"DejaVu Sans Condensed", 400, 5, kStyleNormal, u"DejaVuSansCondensed"},
      {u"Inter", 700, 5, kStyleNormal, u"Inter_700wght"},
      {u"Arial", 400, 5, kStyleNormal, u"<no font>"},
      {u"Terminus", 400, 5, kStyleNormal, u"<no font>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(narrow(c.family) + " " + std::to_string(c.weight) + "/" +
                 std::to_string(c.stretch) + "/" + std::to_string(c.style));
    FontSetRef matched = set_->matchFamily(c.family, c.weight, c.stretch, c.style);
    ASSERT_NE(matched, nullptr);
    EXPECT_EQ(narrow(valueOf(matched, 0, FontPropertyId::kPostScriptName)),
              narrow(c.firstPostScript));
  }
}

TEST_F(SystemFontSet, AxisValuesPickTheNearestInstance) {
  struct Case {
    AxisValues axisValues;
    float expectedWght;
    int expectedStyle;
  };
  const uint32_t slnt = axisTag('s', 'l', 'n', 't');
  const Case cases[] = {
      {{}, 400, kStyleNormal},
      {{{kWghtTag, 640}}, 600, kStyleNormal},
      {{{kWghtTag, 660}}, 700, kStyleNormal},
      {{{kWghtTag, 5000}}, 900, kStyleNormal},  // clamped into the axis range
      {{{kWghtTag, 20}}, 100, kStyleNormal},
      {{{kWghtTag, 300}, {slnt, -10}}, 300, kStyleItalic},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    FontSetRef matched = set_->asAxisAware()->matchProperty(
        {FontPropertyId::kTypographicFamilyName, u"Inter"}, cases[i].axisValues);
    ASSERT_NE(matched, nullptr);
    ASSERT_GT(matched->fontCount(), 1u);
    auto linux = std::static_pointer_cast<const LinuxFontSet>(matched);
    const FontRecord& first = index_->record(linux->recordIds()[0]);
    ASSERT_FALSE(first.coordinates.empty());
    EXPECT_EQ(first.coordinates[0].tag, kWghtTag);
    EXPECT_EQ(first.coordinates[0].value, cases[i].expectedWght);
    EXPECT_EQ(first.style, cases[i].expectedStyle);
  }
}

// A family descriptor's property match, ranked by the lookup, lands on the face its style names:
// the weight-only axis request alone cannot tell an italic or condensed face from the upright one.
TEST_F(SystemFontSet, RankedPropertyMatchFindsTheStyledFace) {
  struct Case {
    std::u16string_view family;
    int weight, stretch, style;
    std::u16string_view postScript;
  };
  const Case cases[] = {
      {u"Noto Sans", 400, 5, kStyleItalic, u"NotoSans-Italic"},
      {u"Noto Sans", 700, 5, kStyleItalic, u"NotoSans-BoldItalic"},
      {u"Noto Serif", 400, 5, kStyleItalic, u"NotoSerif-Italic"},
      {u"Noto Sans Display", 400, 5, kStyleItalic, u"NotoSansDisplay-Italic"},
      {u"DejaVu Sans", 400, 5, kStyleOblique, u"DejaVuSans-Oblique"},
      {u"DejaVu Sans", 400, 5, kStyleItalic, u"DejaVuSans-Oblique"},
      {u"DejaVu Sans Mono", 700, 5, kStyleOblique, u"DejaVuSansMono-BoldOblique"},
      {u"DejaVu Serif", 700, 5, kStyleItalic, u"DejaVuSerif-BoldItalic"},
      {u"DejaVu Sans", 400, 3, kStyleNormal, u"DejaVuSansCondensed"},
      {u"DejaVu Sans", 700, 3, kStyleOblique, u"DejaVuSansCondensed-BoldOblique"},
      {u"DejaVu Serif", 400, 3, kStyleItalic, u"DejaVuSerifCondensed-Italic"},
      // Upright requests keep their faces.
      {u"DejaVu Sans", 400, 5, kStyleNormal, u"DejaVuSans"},
      {u"DejaVu Sans", 700, 5, kStyleNormal, u"DejaVuSans-Bold"},
      {u"Noto Sans", 400, 5, kStyleNormal, u"NotoSans-Regular"},
      {u"Inter", 700, 5, kStyleNormal, u"Inter_700wght"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(narrow(c.family) + " " + std::to_string(c.weight) + "/" +
                 std::to_string(c.stretch) + "/" + std::to_string(c.style));
    RegisteredFont font;
    font.weight = c.weight;
    font.stretch = c.stretch;
    font.style = c.style;
    font.axisValues = {{kWghtTag, float(c.weight)}};
    FontSetRef matched = set_->asAxisAware()->matchProperty(
        {FontPropertyId::kTypographicFamilyName, c.family}, font.axisValues);
    ASSERT_NE(matched, nullptr);
    ASSERT_GT(matched->fontCount(), 1u);
    EXPECT_EQ(
        narrow(valueOf(matched, bestMatchedFont(font, *matched), FontPropertyId::kPostScriptName)),
        narrow(c.postScript));
  }
  // Inter's italics are instances of their own files: the italic style picks one of those.
  for (int weight : {400, 700}) {
    SCOPED_TRACE(weight);
    RegisteredFont font;
    font.weight = weight;
    font.style = kStyleItalic;
    font.axisValues = {{kWghtTag, float(weight)}};
    FontSetRef matched = set_->asAxisAware()->matchProperty(
        {FontPropertyId::kTypographicFamilyName, u"Inter"}, font.axisValues);
    ASSERT_NE(matched, nullptr);
    auto linux = std::static_pointer_cast<const LinuxFontSet>(matched);
    const FontRecord& chosen = index_->record(linux->recordIds()[bestMatchedFont(font, *matched)]);
    EXPECT_EQ(chosen.style, kStyleItalic) << chosen.path;
    EXPECT_EQ(chosen.weight, weight) << chosen.path;
  }
}

TEST_F(SystemFontSet, FirstFontFilterAndPropertyValues) {
  FontSetRef family = set_->matchFamily(u"DejaVu Sans", 700, 5, kStyleNormal);
  ASSERT_GT(family->fontCount(), 1u);
  const uint32_t first = 0;
  FontSetRef one = family->asAxisAware()->filteredFonts({&first, 1});
  ASSERT_NE(one, nullptr);
  ASSERT_EQ(one->fontCount(), 1u);

  struct Case {
    FontPropertyId id;
    std::u16string_view expected;
  };
  const Case cases[] = {
      {FontPropertyId::kPostScriptName, u"DejaVuSans-Bold"},
      {FontPropertyId::kFullName, u"DejaVu Sans Bold"},
      {FontPropertyId::kTypographicFamilyName, u"DejaVu Sans"},
      {FontPropertyId::kWeightStretchStyleFamilyName, u"DejaVu Sans"},
      {FontPropertyId::kWin32FamilyName, u"DejaVu Sans"},
      {FontPropertyId::kWeight, u"700"},
      {FontPropertyId::kStretch, u"5"},
      {FontPropertyId::kStyle, u"0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.id));
    EXPECT_EQ(narrow(valueOf(one, 0, c.id)), narrow(c.expected));
  }
  EXPECT_EQ(one->propertyValues(1, FontPropertyId::kFullName), nullptr);
  const uint32_t beyond = one->fontCount();
  EXPECT_EQ(one->asAxisAware()->filteredFonts({&beyond, 1}), nullptr);
}

}  // namespace
}  // namespace kfp::linux_backend
