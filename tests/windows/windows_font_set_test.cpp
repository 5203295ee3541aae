// DirectWrite matching through the system font set, collections built from matched sets, and the
// family-name choice of font resolution on top of them. DejaVu Sans must be installed (it is on
// the Wine test machine; on Windows the cases skip without it).
#include <memory>
#include <string>

#include "fonts/font_lookup.h"
#include "fonts/font_lookup_steps.h"
#include "fonts/resolved_font.h"
#include "host/renderer_context.h"
#include "platform/windows/windows_backend.h"
#include "protocol/message_types.h"
#include "support/installed_fonts.h"
#include "support/registered_fonts.h"
#include "windows/windows_test_support.h"

namespace kfp {
namespace {

using windows_test::runningUnderWine;
using windows_test::ScopedEnvironment;

// A font's property as read back from the first font of a set; empty when absent.
std::u16string firstFontProperty(const FontSet& set, FontPropertyId id) {
  if (set.fontCount() == 0) return {};
  std::shared_ptr<const LocalizedStrings> values = set.propertyValues(0, id);
  return pickLocalizedString(values.get());
}

class WindowsFontSetTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    backend_ = createWindowsBackend().release();
    engine_ = backend_->createTextEngine();
    if (!engine_) return;
    systemSet_ = engine_->getSystemFontSet();
  }
  static void TearDownTestSuite() {
    systemSet_.reset();
    engine_.reset();
    delete backend_;
  }
  void SetUp() override {
    ASSERT_TRUE(systemSet_);
    FontSetRef dejaVu = systemSet_->matchProperty({FontPropertyId::kPostScriptName, u"DejaVuSans"});
    KFP_REQUIRE_INSTALLED_FONT(dejaVu && dejaVu->fontCount() > 0, "DejaVu Sans");
  }

  static inline Backend* backend_ = nullptr;
  static inline std::shared_ptr<TextEngine> engine_;
  static inline FontSetRef systemSet_;
};

struct MatchRow {
  FontPropertyId id;
  std::u16string_view value;
  // What the first matched font says for `checkId`.
  FontPropertyId checkId;
  std::u16string_view expected;
};

constexpr MatchRow kPropertyMatches[] = {
    {FontPropertyId::kPostScriptName, u"DejaVuSans-Bold", FontPropertyId::kPostScriptName,
     u"DejaVuSans-Bold"},
    {FontPropertyId::kPostScriptName, u"DejaVuSans-Oblique", FontPropertyId::kFullName,
     u"DejaVu Sans Oblique"},
    {FontPropertyId::kFullName, u"DejaVu Sans Bold", FontPropertyId::kPostScriptName,
     u"DejaVuSans-Bold"},
    {FontPropertyId::kWin32FamilyName, u"DejaVu Sans", FontPropertyId::kWin32FamilyName,
     u"DejaVu Sans"},
    {FontPropertyId::kWin32FamilyName, u"DejaVu Sans Condensed", FontPropertyId::kWin32FamilyName,
     u"DejaVu Sans Condensed"},
};

TEST_F(WindowsFontSetTest, MatchesByPropertyWithoutVersion1) {
  for (const MatchRow& row : kPropertyMatches) {
    SCOPED_TRACE(std::string(row.value.begin(), row.value.end()));
    FontSetRef matched = systemSet_->matchProperty({row.id, row.value});
    ASSERT_TRUE(matched);
    ASSERT_GE(matched->fontCount(), 1u);
    EXPECT_LT(matched->fontCount(), systemSet_->fontCount());
    EXPECT_EQ(firstFontProperty(*matched, row.checkId), row.expected);
  }
}

TEST_F(WindowsFontSetTest, UnknownNamesMatchNothing) {
  for (FontPropertyId id : {FontPropertyId::kPostScriptName, FontPropertyId::kFullName,
                            FontPropertyId::kWin32FamilyName}) {
    SCOPED_TRACE(static_cast<int>(id));
    FontSetRef matched = systemSet_->matchProperty({id, u"No Such Font Anywhere"});
    EXPECT_TRUE(!matched || matched->fontCount() == 0);
  }
}

TEST_F(WindowsFontSetTest, PropertyAbsentFromFontIsNull) {
  FontSetRef matched = systemSet_->matchProperty({FontPropertyId::kPostScriptName, u"DejaVuSans"});
  ASSERT_TRUE(matched);
  // An out-of-range index is a failed call, not a crash.
  EXPECT_EQ(matched->propertyValues(matched->fontCount() + 5, FontPropertyId::kFullName), nullptr);
}

TEST_F(WindowsFontSetTest, MatchesByPropertyAndAxisValuesWithVersion1) {
  KFP_SKIP_UNDER_WINE("IDWriteFontSet1::GetMatchingFonts returns E_NOTIMPL");
  const AxisAwareFontSet* set1 = systemSet_->asAxisAware();
  ASSERT_NE(set1, nullptr);
  const AxisValue bold[] = {{kWghtTag, 700}};
  for (const MatchRow& row : kPropertyMatches) {
    SCOPED_TRACE(std::string(row.value.begin(), row.value.end()));
    FontSetRef matched = set1->matchProperty({row.id, row.value}, {});
    ASSERT_TRUE(matched);
    ASSERT_GE(matched->fontCount(), 1u);
    EXPECT_EQ(firstFontProperty(*matched, row.checkId), row.expected);
  }
  // The axis values rank the family's fonts: weight 700 puts the bold face first.
  FontSetRef family = set1->matchProperty({FontPropertyId::kWin32FamilyName, u"DejaVu Sans"}, bold);
  ASSERT_TRUE(family);
  EXPECT_EQ(firstFontProperty(*family, FontPropertyId::kPostScriptName), u"DejaVuSans-Bold");
}

TEST_F(WindowsFontSetTest, MatchesByTypographicAndWeightStretchStyleFamily) {
  KFP_SKIP_UNDER_WINE("typographic and weight-stretch-style family names are absent");
  for (FontPropertyId id :
       {FontPropertyId::kTypographicFamilyName, FontPropertyId::kWeightStretchStyleFamilyName}) {
    SCOPED_TRACE(static_cast<int>(id));
    FontSetRef matched = systemSet_->matchProperty({id, u"DejaVu Sans"});
    ASSERT_TRUE(matched);
    EXPECT_GE(matched->fontCount(), 1u);
  }
}

TEST_F(WindowsFontSetTest, MatchesFamilyPuttingTheRequestedFaceFirst) {
  KFP_SKIP_UNDER_WINE("the family form of IDWriteFontSet::GetMatchingFonts returns E_NOTIMPL");
  struct Row {
    int weight;
    int style;
    std::u16string_view postScriptName;
  };
  const Row rows[] = {{400, kStyleNormal, u"DejaVuSans"},
                      {700, kStyleNormal, u"DejaVuSans-Bold"},
                      {400, kStyleOblique, u"DejaVuSans-Oblique"},
                      {700, kStyleItalic, u"DejaVuSans-BoldOblique"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.weight * 10 + row.style);
    FontSetRef matched =
        systemSet_->matchFamily(u"DejaVu Sans", row.weight, kNormalStretch, row.style);
    ASSERT_TRUE(matched);
    EXPECT_EQ(firstFontProperty(*matched, FontPropertyId::kPostScriptName), row.postScriptName);
  }
}

TEST_F(WindowsFontSetTest, FiltersToTheFirstFont) {
  KFP_SKIP_UNDER_WINE("IDWriteFontSet1::GetFilteredFonts returns E_NOTIMPL");
  FontSetRef family = systemSet_->matchProperty({FontPropertyId::kWin32FamilyName, u"DejaVu Sans"});
  ASSERT_TRUE(family);
  ASSERT_GT(family->fontCount(), 1u);
  ASSERT_NE(family->asAxisAware(), nullptr);
  const uint32_t first[] = {0};
  FontSetRef filtered = family->asAxisAware()->filteredFonts(first);
  ASSERT_TRUE(filtered);
  ASSERT_EQ(filtered->fontCount(), 1u);
  EXPECT_EQ(firstFontProperty(*filtered, FontPropertyId::kPostScriptName),
            firstFontProperty(*family, FontPropertyId::kPostScriptName));
}

TEST_F(WindowsFontSetTest, CollectionFromMatchedFonts) {
  FontSetRef matched =
      systemSet_->matchProperty({FontPropertyId::kPostScriptName, u"DejaVuSans-Bold"});
  ASSERT_TRUE(matched);
  FontCollectionRef collection = engine_->createFontCollection(*matched);
  ASSERT_TRUE(collection);
  EXPECT_EQ(collection->familyCount(), 1u);
  struct Row {
    std::u16string_view name;
    bool found;
  };
  const Row rows[] = {{u"DejaVu Sans", true},
                      {u"dejavu SANS", true},
                      {u"DejaVu Serif", false},
                      {u"DejaVu", false},
                      {u"", false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.name.begin(), row.name.end()));
    EXPECT_EQ(collection->findFamilyName(row.name), row.found);
  }
  std::shared_ptr<const LocalizedStrings> names = collection->familyNames(0);
  ASSERT_TRUE(names);
  uint32_t index = 99;
  EXPECT_TRUE(names->findLocaleName(u"EN-US", &index));
  EXPECT_LT(index, names->count());
  EXPECT_EQ(pickLocalizedString(names.get()), u"DejaVu Sans");
  EXPECT_EQ(collection->familyNames(1), nullptr);
}

TEST_F(WindowsFontSetTest, CollectionOfAFamilyHoldsOnlyThatFamily) {
  FontSetRef matched =
      systemSet_->matchProperty({FontPropertyId::kWin32FamilyName, u"DejaVu Sans Mono"});
  ASSERT_TRUE(matched);
  FontCollectionRef collection = engine_->createFontCollection(*matched);
  ASSERT_TRUE(collection);
  EXPECT_EQ(collection->familyCount(), 1u);
  EXPECT_TRUE(collection->findFamilyName(u"DejaVu Sans Mono"));
  EXPECT_FALSE(collection->findFamilyName(u"DejaVu Sans"));
}

// The weight, stretch and style the lookup ranks matched fonts by, read per font.
TEST_F(WindowsFontSetTest, ReportsEachFontsWeightStretchAndStyle) {
  struct Row {
    std::u16string_view postScript;
    std::u16string_view weight, stretch, style;  // empty: only "not normal" is checked
  };
  const Row rows[] = {
      {u"DejaVuSans", u"400", u"5", u"0"},
      {u"DejaVuSans-Bold", u"700", u"5", u"0"},
      {u"DejaVuSansCondensed", u"400", u"4", u"0"},
      {u"DejaVuSans-Oblique", u"400", u"5", u""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.postScript.begin(), row.postScript.end()));
    FontSetRef matched =
        systemSet_->matchProperty({FontPropertyId::kPostScriptName, row.postScript});
    ASSERT_TRUE(matched);
    ASSERT_GE(matched->fontCount(), 1u);
    const std::u16string weight = firstFontProperty(*matched, FontPropertyId::kWeight);
    if (weight.empty() && runningUnderWine()) GTEST_SKIP() << "Wine 8: no weight property values";
    EXPECT_EQ(weight, row.weight);
    EXPECT_EQ(firstFontProperty(*matched, FontPropertyId::kStretch), row.stretch);
    const std::u16string style = firstFontProperty(*matched, FontPropertyId::kStyle);
    if (row.style.empty()) {
      EXPECT_TRUE(style == u"1" || style == u"2") << std::string(style.begin(), style.end());
    } else {
      EXPECT_EQ(style, row.style);
    }
  }
}

// A family's property match ranked by the lookup lands on the face the style names.
TEST_F(WindowsFontSetTest, RankedFamilyMatchFindsTheStyledFace) {
  KFP_SKIP_UNDER_WINE("IDWriteFontSet1::GetMatchingFonts returns E_NOTIMPL");
  const AxisAwareFontSet* set1 = systemSet_->asAxisAware();
  ASSERT_NE(set1, nullptr);
  struct Row {
    int weight, stretch, style;
    std::u16string_view postScript;
  };
  const Row rows[] = {
      {400, 5, kStyleNormal, u"DejaVuSans"},
      {700, 5, kStyleNormal, u"DejaVuSans-Bold"},
      {400, 5, kStyleOblique, u"DejaVuSans-Oblique"},
      {700, 5, kStyleItalic, u"DejaVuSans-BoldOblique"},
      {400, 4, kStyleNormal, u"DejaVuSansCondensed"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.postScript.begin(), row.postScript.end()));
    RegisteredFont font;
    font.weight = row.weight;
    font.stretch = row.stretch;
    font.style = row.style;
    font.axisValues = {{kWghtTag, float(row.weight)}};
    FontSetRef matched = set1->matchProperty(
        {FontPropertyId::kTypographicFamilyName, u"DejaVu Sans"}, font.axisValues);
    ASSERT_TRUE(matched);
    ASSERT_GT(matched->fontCount(), 1u);
    const uint32_t best[] = {bestMatchedFont(font, *matched)};
    FontSetRef chosen = set1->filteredFonts(best);
    ASSERT_TRUE(chosen);
    EXPECT_EQ(firstFontProperty(*chosen, FontPropertyId::kPostScriptName), row.postScript);
  }
}

// Font resolution on the backend: which fonts it finds and which family name it lays out with.
// With the version-1 set hidden the version-0 path runs, which Wine implements; the version-1
// path runs on Windows.
class WindowsFontResolutionTest : public ::testing::TestWithParam<bool> {};

TEST_P(WindowsFontResolutionTest, ResolvesAndNamesTheFamily) {
  const bool hideVersion1 = GetParam();
  if (!hideVersion1) KFP_SKIP_UNDER_WINE("the version-1 font set's matching returns E_NOTIMPL");
  const ScopedEnvironment hide("KFP_TEST_HIDE_FONTSET1", hideVersion1 ? "1" : "0");
  auto backend = createWindowsBackend();
  RendererContext context(*backend);
  ASSERT_TRUE(context.initialize());
  ASSERT_EQ(context.platform().systemAxisAwareFontSet() == nullptr, hideVersion1);

  struct Row {
    const char* name;
    RegisteredFont font;
    bool found;
    std::u16string_view familyName;
    std::string_view error;
  };
  auto font = [](std::u16string family, std::u16string full, std::u16string postScript) {
    RegisteredFont f;
    f.familyName = std::move(family);
    f.fullName = std::move(full);
    f.postScriptName = std::move(postScript);
    f.axisValues = {{kWghtTag, 400}};
    return f;
  };
  const Row rows[] = {
      // A wrong registered family name: the name is read from the matched font instead.
      {"postscript", font(u"Wrong Family", u"", u"DejaVuSans-Bold"), true, u"DejaVu Sans", ""},
      {"full name", font(u"", u"DejaVu Sans Mono Bold", u""), true, u"DejaVu Sans Mono", ""},
      // The registered family name wins when the collection has it.
      {"family kept", font(u"DEJAVU SANS", u"", u"DejaVuSans"), true, u"DEJAVU SANS", ""},
      {"nothing", font(u"No Such Family Here", u"No Such Font", u"NoSuch-Font"), false, u"",
       errors::kFontNotFound},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ::kfp::testing::activateFonts(context.registry(), {{u"id", row.font}});
    ResolvedFont entry;
    resolveFontEntry(context.platform(), context.registry(), u"id", entry);
    EXPECT_EQ(entry.found, row.found);
    EXPECT_EQ(entry.error, row.error);
    if (!row.found) continue;
    EXPECT_EQ(entry.kind, FontKind::kDirectWrite);
    EXPECT_EQ(entry.familyName, row.familyName);
    ASSERT_TRUE(entry.fontCollection);
    EXPECT_TRUE(entry.fontCollection->findFamilyName(entry.familyName));
  }
}

TEST_P(WindowsFontResolutionTest, FamilyNameAloneResolves) {
  const bool hideVersion1 = GetParam();
  if (!hideVersion1) KFP_SKIP_UNDER_WINE("the version-1 font set's matching returns E_NOTIMPL");
  const ScopedEnvironment hide("KFP_TEST_HIDE_FONTSET1", hideVersion1 ? "1" : "0");
  auto backend = createWindowsBackend();
  RendererContext context(*backend);
  ASSERT_TRUE(context.initialize());
  RegisteredFont font;
  font.familyName = u"DejaVu Serif";
  font.weight = 700;
  ::kfp::testing::activateFonts(context.registry(), {{u"id", font}});
  ResolvedFont entry;
  resolveFontEntry(context.platform(), context.registry(), u"id", entry);
  ASSERT_TRUE(entry.found);
  EXPECT_EQ(entry.familyName, u"DejaVu Serif");
  // Wine lacks every DirectWrite family match, so only GDI's face lookup finds it there.
  EXPECT_EQ(entry.kind, runningUnderWine() ? FontKind::kGdi : FontKind::kDirectWrite);
}

INSTANTIATE_TEST_SUITE_P(Version1, WindowsFontResolutionTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? std::string("Hidden") : std::string("Offered");
                         });

}  // namespace
}  // namespace kfp
