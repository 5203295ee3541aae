#include "fonts/descriptor_parser.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <string>

#include "base/json.h"

namespace kfp {
namespace {

struct StyleCase {
  std::u16string_view styleName;
  int weight;
  int stretch;
  int style;
};

TEST(StyleKeywords, FirstKeywordFoundDecides) {
  const StyleCase cases[] = {
      {u"Bold Italic", 700, 5, 2},
      {u"SemiBold", 600, 5, 0},
      {u"Semi Bold", 700, 5, 0},
      {u"ExtraLight Condensed", 200, 3, 0},
      {u"SemiCondensed", 400, 4, 0},
      {u"Something", 100, 5, 0},
      {u"Highlight", 300, 5, 0},
      {u"BLACK", 900, 5, 0},
      {u"Regular", 400, 5, 0},
      {u"", 400, 5, 0},
      {u"Oblique", 400, 5, 1},
      {u"Italic Oblique", 400, 5, 2},
      {u"UltraExpanded Heavy", 900, 9, 0},
      {u"Medium SemiExpanded", 500, 6, 0},
      {u"D\u00c9MIBOLD", 700, 5, 0},  // \u00c9 does not fold: "demibold" is missed, "bold" found
      {u"ExtraBold", 800, 5, 0},
      {u"semilight", 350, 5, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.styleName.begin(), c.styleName.end()));
    EXPECT_EQ(weightFromStyleName(c.styleName), c.weight);
    EXPECT_EQ(stretchFromStyleName(c.styleName), c.stretch);
    EXPECT_EQ(styleFromStyleName(c.styleName), c.style);
  }
}

RegisteredFont parse(const char* json) {
  return parseFontDescriptor(JsonObject::parse(json));
}

constexpr uint32_t kWdth = axisTag('w', 'd', 't', 'h');

struct AxisCase {
  const char* name;
  const char* json;
  AxisValues axes;
  int weight;
};

TEST(ParseFontDescriptor, ReadsAxesAndAlwaysCarriesWeight) {
  const AxisCase cases[] = {
      {"no axis arrays", R"({"styleName":"Bold"})", {{kWghtTag, 700}}, 700},
      {"empty arrays", R"({"designAxesData":[],"designVector":[]})", {{kWghtTag, 400}}, 400},
      {"wght within bounds",
       R"({"styleName":"Bold","designAxesData":[{"tag":"wght","min":100,"max":900}],"designVector":[650]})",
       {{kWghtTag, 650}},
       650},
      {"wght above 999 unbounded",
       R"({"designAxesData":[{"tag":"wght"}],"designVector":[1200]})",
       {{kWghtTag, 1200}},
       999},
      {"wght below 1",
       R"({"designAxesData":[{"tag":"wght"}],"designVector":[0.5]})",
       {{kWghtTag, 0.5f}},
       1},
      {"clamped into bounds",
       R"({"designAxesData":[{"tag":"wght","min":100,"max":900}],"designVector":[950]})",
       {{kWghtTag, 900}},
       900},
      {"lone min never clamps",
       R"({"designAxesData":[{"tag":"wght","min":300}],"designVector":[200]})",
       {{kWghtTag, 200}},
       200},
      {"min equal to max clamps to it",
       R"({"designAxesData":[{"tag":"wdth","min":75,"max":75}],"designVector":[100]})",
       {{kWdth, 75}, {kWghtTag, 400}},
       400},
      {"min above max leaves the value",
       R"({"designAxesData":[{"tag":"wdth","min":90,"max":50}],"designVector":[100]})",
       {{kWdth, 100}, {kWghtTag, 400}},
       400},
      {"non-numeric min is missing",
       R"({"designAxesData":[{"tag":"wdth","min":"x","max":80}],"designVector":[100]})",
       {{kWdth, 100}, {kWghtTag, 400}},
       400},
      {"bad tag lengths skip the axis",
       R"({"designAxesData":[{"tag":"wdt"},{"tag":"wdthx"},{},{"tag":5}],"designVector":[1,2,3,4]})",
       {{kWghtTag, 400}},
       400},
      {"longer axis array is cut",
       R"({"designAxesData":[{"tag":"wdth"},{"tag":"wght"},7],"designVector":[90,650]})",
       {{kWdth, 90}, {kWghtTag, 650}},
       650},
      {"non-object axis skipped",
       R"({"designAxesData":[{"tag":"wdth"},5,{"tag":"wght"}],"designVector":[90,1,650]})",
       {{kWdth, 90}, {kWghtTag, 650}},
       650},
      {"non-number value skipped",
       R"({"designAxesData":[{"tag":"wdth"},{"tag":"wght"}],"designVector":["x",650]})",
       {{kWghtTag, 650}},
       650},
      {"repeated tags kept in order",
       R"({"designAxesData":[{"tag":"wdth"},{"tag":"wdth"}],"designVector":[75,125]})",
       {{kWdth, 75}, {kWdth, 125}, {kWghtTag, 400}},
       400},
      {"later wght overrides",
       R"({"designAxesData":[{"tag":"wght"},{"tag":"wght"}],"designVector":[300,500]})",
       {{kWghtTag, 300}, {kWghtTag, 500}},
       500},
      {"axes not an array",
       R"({"styleName":"Light","designAxesData":"wght","designVector":[1]})",
       {{kWghtTag, 300}},
       300},
      {"vector missing", R"({"designAxesData":[{"tag":"wght"}]})", {{kWghtTag, 400}}, 400},
      {"beyond the float range saturates",
       R"({"designAxesData":[{"tag":"wdth"},{"tag":"wght"}],"designVector":[1e39,-1e300]})",
       {{kWdth, FLT_MAX}, {kWghtTag, -FLT_MAX}},
       1},
      {"tag uses the low byte of each code unit",
       R"({"designAxesData":[{"tag":"\u0177ght"}],"designVector":[500]})",
       {{kWghtTag, 500}},
       500},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const RegisteredFont font = parse(c.json);
    EXPECT_EQ(font.axisValues, c.axes);
    EXPECT_EQ(font.weight, c.weight);
  }
}

TEST(ParseFontDescriptor, CopiesNamesAndFallsBackToTheNativeStyleName) {
  const RegisteredFont font = parse(
      R"({"familyName":"Fam","nativeFamilyName":"NFam","fullName":"Full","nativeFullName":"NFull",
          "styleName":"","nativeStyleName":"Oblique","postScriptName":"PS","extra":1})");
  EXPECT_EQ(font.familyName, u"Fam");
  EXPECT_EQ(font.nativeFamilyName, u"NFam");
  EXPECT_EQ(font.fullName, u"Full");
  EXPECT_EQ(font.nativeFullName, u"NFull");
  EXPECT_EQ(font.nativeStyleName, u"Oblique");
  EXPECT_EQ(font.postScriptName, u"PS");
  EXPECT_EQ(font.style, kStyleOblique);

  const RegisteredFont wrongTypes = parse(R"({"familyName":7,"styleName":null})");
  EXPECT_TRUE(wrongTypes.familyName.empty());
  EXPECT_EQ(wrongTypes.weight, 400);
}

}  // namespace
}  // namespace kfp
