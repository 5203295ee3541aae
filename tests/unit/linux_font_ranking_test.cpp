// Ranking and matching rules of the Linux font set, on made-up records.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "platform/linux/fonts/font_index.h"
#include "platform/linux/fonts/font_set.h"
#include "platform/linux/fonts/font_set_ranking.h"

namespace kfp::linux_backend {
namespace {

constexpr uint32_t kWdth = axisTag('w', 'd', 't', 'h');
constexpr uint32_t kItal = axisTag('i', 't', 'a', 'l');

FontRecord staticRecord(std::u16string family, std::u16string postScript, int weight, int stretch,
                        int style) {
  FontRecord r;
  r.path = "/fonts/" + std::string(postScript.begin(), postScript.end());
  r.weight = weight;
  r.stretch = stretch;
  r.style = style;
  r.postScriptName = postScript;
  r.fullNames = {{u"en-us", family + u" " + postScript}, {u"de", u"Voll " + postScript}};
  r.typographicFamilyNames = {{u"en-us", family}};
  r.wwsFamilyNames = {{u"en-us", family}};
  r.win32FamilyNames = {{u"en-us", family + (stretch == 5 ? u"" : u" Narrow")}};
  return r;
}

FontRecord instanceRecord(std::u16string postScript, uint32_t instance, float wght) {
  FontRecord r = staticRecord(u"Var", postScript, int(wght), 5, kStyleNormal);
  r.path = "/fonts/var.ttf";
  r.namedInstance = instance;
  r.axes = {{kWghtTag, 100, 400, 900}};
  r.coordinates = {{kWghtTag, wght}};
  return r;
}

// Ids are positions in this list.
std::shared_ptr<FontIndex> makeIndex() {
  return FontIndex::fromRecords({
      staticRecord(u"Fam", u"Fam-Regular", 400, 5, kStyleNormal),           // 0
      staticRecord(u"Fam", u"Fam-Bold", 700, 5, kStyleNormal),              // 1
      staticRecord(u"Fam", u"Fam-Italic", 400, 5, kStyleItalic),            // 2
      staticRecord(u"Fam", u"Fam-BoldOblique", 700, 5, kStyleOblique),      // 3
      staticRecord(u"Fam", u"Fam-Light", 300, 5, kStyleNormal),             // 4
      staticRecord(u"Fam", u"Fam-SemiBold", 600, 5, kStyleNormal),          // 5
      staticRecord(u"Fam", u"Fam-Condensed", 400, 3, kStyleNormal),         // 6
      staticRecord(u"Fam", u"Fam-Expanded", 400, 7, kStyleNormal),          // 7
      staticRecord(u"Fam", u"Fam-Medium", 500, 5, kStyleNormal),            // 8
      staticRecord(u"Slanted", u"Slanted-Italic", 400, 5, kStyleItalic),    // 9
      staticRecord(u"Slanted", u"Slanted-Oblique", 400, 5, kStyleOblique),  // 10
      instanceRecord(u"Var-Regular", 0, 400),                               // 11
      instanceRecord(u"Var-Thin", 1, 100),                                  // 12
      instanceRecord(u"Var-Black", 2, 900),                                 // 13
      instanceRecord(u"Var-Bold", 3, 700),                                  // 14
  });
}

std::u16string firstPostScriptName(const FontSetRef& set) {
  if (!set || set->fontCount() == 0) return u"<none>";
  std::u16string name;
  auto values = set->propertyValues(0, FontPropertyId::kPostScriptName);
  if (!values || !values->getString(0, &name)) return u"<unreadable>";
  return name;
}

std::string narrow(std::u16string_view text) {
  return std::string(text.begin(), text.end());
}

struct FamilyCase {
  std::u16string_view family;
  int weight;
  int stretch;
  int style;
  std::u16string_view expected;
};

TEST(LinuxFontRanking, FamilyMatchOrdersStretchThenStyleThenWeight) {
  const FamilyCase cases[] = {
      {u"Fam", 400, 5, kStyleNormal, u"Fam-Regular"},
      {u"Fam", 700, 5, kStyleNormal, u"Fam-Bold"},
      {u"Fam", 400, 5, kStyleItalic, u"Fam-Italic"},
      {u"Fam", 700, 5, kStyleItalic, u"Fam-Italic"},  // style outranks weight
      {u"Fam", 700, 5, kStyleOblique, u"Fam-BoldOblique"},
      {u"Fam", 450, 5, kStyleNormal, u"Fam-Medium"},  // 400..500: up to 500 first
      {u"Fam", 420, 5, kStyleNormal, u"Fam-Medium"},
      {u"Fam", 350, 5, kStyleNormal, u"Fam-Light"},     // below 400: lighter first
      {u"Fam", 550, 5, kStyleNormal, u"Fam-SemiBold"},  // above 500: heavier first
      {u"Fam", 650, 5, kStyleNormal, u"Fam-Bold"},
      {u"Fam", 950, 5, kStyleNormal, u"Fam-Bold"},   // nothing heavier: the heaviest lighter one
      {u"Fam", 100, 5, kStyleNormal, u"Fam-Light"},  // nothing lighter: the lightest heavier one
      {u"Fam", 400, 4, kStyleNormal, u"Fam-Condensed"},  // narrower first at or below normal
      {u"Fam", 400, 6, kStyleNormal, u"Fam-Expanded"},   // wider first above normal
      {u"Fam", 400, 9, kStyleNormal, u"Fam-Expanded"},   // nothing wider: the widest narrower
      {u"Fam", 400, 1, kStyleNormal, u"Fam-Condensed"},
      {u"Fam", 400, 3, kStyleItalic, u"Fam-Condensed"},         // stretch outranks style
      {u"fAM", 400, 5, kStyleNormal, u"Fam-Regular"},           // case-insensitive
      {u"Fam Narrow", 700, 5, kStyleNormal, u"Fam-Condensed"},  // legacy family name
      {u"Slanted", 400, 5, kStyleNormal, u"Slanted-Oblique"},   // oblique nearer upright
      {u"Slanted", 400, 5, kStyleItalic, u"Slanted-Italic"},
      {u"Slanted", 400, 5, kStyleOblique, u"Slanted-Oblique"},
      {u"Var", 800, 5, kStyleNormal, u"Var-Black"},
      {u"Fa", 400, 5, kStyleNormal, u"<none>"},  // no prefix matching
      {u"", 400, 5, kStyleNormal, u"<none>"},
  };
  auto index = makeIndex();
  LinuxFontSet all(index, [&] {
    std::vector<uint32_t> ids(index->size());
    for (uint32_t i = 0; i < ids.size(); ++i) ids[i] = i;
    return ids;
  }());
  for (const FamilyCase& c : cases) {
    SCOPED_TRACE(narrow(c.family) + " " + std::to_string(c.weight) + "/" +
                 std::to_string(c.stretch) + "/" + std::to_string(c.style));
    EXPECT_EQ(narrow(firstPostScriptName(all.matchFamily(c.family, c.weight, c.stretch, c.style))),
              narrow(c.expected));
  }
}

struct AxisCase {
  const char* name;
  FontProperty property;
  AxisValues axisValues;
  std::u16string_view expected;
};

TEST(LinuxFontRanking, PropertyMatchRanksByClampedAxisDistance) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const AxisCase cases[] = {
      {"no axes: the default instance",
       {FontPropertyId::kTypographicFamilyName, u"Var"},
       {},
       u"Var-Regular"},
      {"nearest instance",
       {FontPropertyId::kTypographicFamilyName, u"Var"},
       {{kWghtTag, 640}},
       u"Var-Bold"},
      {"clamped above the range",
       {FontPropertyId::kTypographicFamilyName, u"Var"},
       {{kWghtTag, 2000}},
       u"Var-Black"},
      {"clamped below the range",
       {FontPropertyId::kTypographicFamilyName, u"Var"},
       {{kWghtTag, -50}},
       u"Var-Thin"},
      {"last value of a tag wins",
       {FontPropertyId::kTypographicFamilyName, u"Var"},
       {{kWghtTag, 100}, {kWghtTag, 900}},
       u"Var-Black"},
      {"NaN is ignored",
       {FontPropertyId::kTypographicFamilyName, u"Var"},
       {{kWghtTag, nan}},
       u"Var-Regular"},
      {"static weight as wght",
       {FontPropertyId::kWeightStretchStyleFamilyName, u"Fam"},
       {{kWghtTag, 690}},
       u"Fam-Bold"},
      {"static width as wdth",
       {FontPropertyId::kTypographicFamilyName, u"Fam"},
       {{kWdth, 75}},
       u"Fam-Condensed"},
      {"static italic as ital",
       {FontPropertyId::kTypographicFamilyName, u"Fam"},
       {{kItal, 1}},
       u"Fam-Italic"},
      {"no axes: the most normal face",
       {FontPropertyId::kTypographicFamilyName, u"Fam"},
       {},
       u"Fam-Regular"},
      {"unknown axis changes nothing",
       {FontPropertyId::kTypographicFamilyName, u"Fam"},
       {{axisTag('o', 'p', 's', 'z'), 72}},
       u"Fam-Regular"},
      {"PostScript name, any case",
       {FontPropertyId::kPostScriptName, u"FAM-bold"},
       {},
       u"Fam-Bold"},
      {"full name in another language",
       {FontPropertyId::kFullName, u"voll fam-light"},
       {},
       u"Fam-Light"},
      {"legacy family",
       {FontPropertyId::kWin32FamilyName, u"Fam Narrow"},
       {{kWdth, 200}},
       u"Fam-Expanded"},
      {"WWS family does not know legacy names",
       {FontPropertyId::kWeightStretchStyleFamilyName, u"Fam Narrow"},
       {},
       u"<none>"},
      {"empty name", {FontPropertyId::kPostScriptName, u""}, {}, u"<none>"},
      {"a name nothing has", {FontPropertyId::kFullName, u"Fam"}, {}, u"<none>"},
  };
  auto index = makeIndex();
  auto all = LinuxFontSet::scalableFonts(index);
  for (const AxisCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(narrow(firstPostScriptName(all->matchProperty(c.property, c.axisValues))),
              narrow(c.expected));
  }
}

TEST(LinuxFontRanking, AxisValuesImplyWeightStretchAndStyle) {
  struct Case {
    AxisValues values;
    int weight;
    int stretch;
    int style;
  };
  const Case cases[] = {
      {{}, 400, 5, kStyleNormal},
      {{{kWghtTag, 1200}}, 999, 5, kStyleNormal},
      {{{kWghtTag, 0}}, 1, 5, kStyleNormal},
      {{{kWdth, 75}}, 400, 3, kStyleNormal},
      {{{kWdth, 130}}, 400, 7, kStyleNormal},
      {{{kItal, 1}}, 400, 5, kStyleItalic},
      {{{axisTag('s', 'l', 'n', 't'), -10}}, 400, 5, kStyleOblique},
      {{{kItal, 1}, {axisTag('s', 'l', 'n', 't'), -10}}, 400, 5, kStyleItalic},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    RankRequest r = rankRequestFromAxes(cases[i].values);
    EXPECT_EQ(r.weight, cases[i].weight);
    EXPECT_EQ(r.stretch, cases[i].stretch);
    EXPECT_EQ(r.style, cases[i].style);
  }
}

TEST(LinuxFontSetContract, SubsetsPropertiesAndFilters) {
  auto index = makeIndex();
  // A subset only matches its own fonts.
  LinuxFontSet subset(index, {9, 1, 0});
  EXPECT_EQ(subset.matchProperty({FontPropertyId::kPostScriptName, u"Fam-Italic"})->fontCount(),
            0u);
  EXPECT_EQ(subset.matchFamily(u"Fam", 700, 5, 0)->fontCount(), 2u);

  struct FilterCase {
    std::vector<uint32_t> indices;
    std::vector<std::u16string_view> expected;  // empty with nullResult
    bool nullResult;
  };
  const FilterCase filters[] = {
      {{0}, {u"Slanted-Italic"}, false},
      {{2, 0}, {u"Fam-Regular", u"Slanted-Italic"}, false},
      {{}, {}, false},
      {{3}, {}, true},
  };
  for (size_t i = 0; i < std::size(filters); ++i) {
    SCOPED_TRACE(i);
    FontSetRef filtered = subset.asAxisAware()->filteredFonts(filters[i].indices);
    ASSERT_EQ(filtered == nullptr, filters[i].nullResult);
    if (!filtered) continue;
    ASSERT_EQ(filtered->fontCount(), filters[i].expected.size());
    for (uint32_t k = 0; k < filtered->fontCount(); ++k) {
      std::u16string name;
      ASSERT_TRUE(
          filtered->propertyValues(k, FontPropertyId::kPostScriptName)->getString(0, &name));
      EXPECT_EQ(narrow(name), narrow(filters[i].expected[k]));
    }
  }

  struct PropertyCase {
    FontPropertyId id;
    std::vector<LocalizedStringList::Entry> expected;
  };
  const PropertyCase properties[] = {
      {FontPropertyId::kPostScriptName, {{u"en-us", u"Fam-Bold"}}},
      {FontPropertyId::kFullName, {{u"en-us", u"Fam Fam-Bold"}, {u"de", u"Voll Fam-Bold"}}},
      {FontPropertyId::kTypographicFamilyName, {{u"en-us", u"Fam"}}},
      {FontPropertyId::kWeightStretchStyleFamilyName, {{u"en-us", u"Fam"}}},
      {FontPropertyId::kWin32FamilyName, {{u"en-us", u"Fam"}}},
  };
  for (const PropertyCase& c : properties) {
    SCOPED_TRACE(int(c.id));
    auto values = subset.propertyValues(1, c.id);
    ASSERT_NE(values, nullptr);
    ASSERT_EQ(values->count(), c.expected.size());
    for (uint32_t k = 0; k < values->count(); ++k) {
      std::u16string text;
      ASSERT_TRUE(values->getString(k, &text));
      EXPECT_EQ(narrow(text), narrow(c.expected[k].text));
      uint32_t found = 99;
      EXPECT_TRUE(values->findLocaleName(c.expected[k].locale, &found));
      EXPECT_EQ(found, k);
    }
  }
  EXPECT_EQ(subset.propertyValues(3, FontPropertyId::kPostScriptName), nullptr);
}

}  // namespace
}  // namespace kfp::linux_backend
