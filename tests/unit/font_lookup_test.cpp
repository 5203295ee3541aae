#include "fonts/font_lookup.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "base/json.h"
#include "fonts/font_lookup_steps.h"
#include "host/renderer_context.h"
#include "protocol/message_types.h"
#include "support/fake_backend.h"
#include "support/fake_gdi.h"
#include "support/registered_fonts.h"

namespace kfp {
namespace {

using testing::FakeBackend;
using testing::FakeFontCollection;
using testing::FakeFontSet;
using testing::makeStrings;
using testing::matchedFamily;

// What one matching step finds.
enum class Outcome { kNoMatch, kNoFonts, kCollectionFails, kNoFamilyName, kAdopts };

FontSetRef fontsFor(Outcome outcome, const std::u16string& family) {
  switch (outcome) {
    case Outcome::kNoMatch:
      return nullptr;
    case Outcome::kNoFonts:
      return std::make_shared<FakeFontSet>(0, false);
    case Outcome::kCollectionFails:
      return std::make_shared<FakeFontSet>(1, false);
    case Outcome::kNoFamilyName: {
      auto fonts = std::make_shared<FakeFontSet>(1, false);
      fonts->collection = std::make_shared<FakeFontCollection>();
      return fonts;
    }
    case Outcome::kAdopts:
      return matchedFamily(family);
  }
  return nullptr;
}

RegisteredFont fullFont() {
  RegisteredFont font;
  font.familyName = u"Fam";
  font.nativeFamilyName = u"NatFam";
  font.fullName = u"Fam Bold";
  font.nativeFullName = u"NatFam Bold";
  font.postScriptName = u"Fam-Bold";
  font.weight = 700;
  font.stretch = 3;
  font.style = kStyleItalic;
  font.axisValues = {{kWghtTag, 700.0f}, {axisTag('w', 'd', 't', 'h'), 80.0f}};
  return font;
}

class FontLookupTest : public ::testing::Test {
 protected:
  void init(bool fontSet1 = true) {
    system().hasAxisAware = fontSet1;
    ASSERT_TRUE(ctx.initialize());
  }
  FakeFontSet& system() { return *backend.textEngine->systemFonts; }
  void add(const RegisteredFont& font, const std::u16string& id = u"f") {
    testing::activateFonts(ctx.registry(), {{id, font}});
  }
  ResolvedFont resolve(const std::u16string& id = u"f") {
    ResolvedFont entry;
    resolveFontEntry(ctx.platform(), ctx.registry(), id, entry);
    return entry;
  }

  FakeBackend backend;
  RendererContext ctx{backend};
};

TEST_F(FontLookupTest, UnregisteredIdKeepsCreationValues) {
  init();
  add(fullFont(), u"f");
  ctx.registry().beginRegistration(1);
  ASSERT_TRUE(ctx.registry().addFont(u"staged", fullFont()));
  for (const std::u16string& id : {std::u16string(u"staged"), std::u16string(u""),
                                   std::u16string(u"F"), std::u16string(u"g")}) {
    SCOPED_TRACE(std::string(id.begin(), id.end()));
    ResolvedFont entry = resolve(id);
    EXPECT_FALSE(entry.found);
    EXPECT_EQ(entry.error, errors::kFontNotRegistered);
    EXPECT_EQ(entry.weight, 400);
    EXPECT_EQ(entry.stretch, 5);
    EXPECT_EQ(entry.style, 0);
    EXPECT_TRUE(entry.axisValues.empty());
  }
  EXPECT_TRUE(system().propertyCalls.empty());
}

TEST_F(FontLookupTest, NothingMatchesTriesEveryNameInOrderAndKeepsRegisteredValues) {
  init();
  add(fullFont());
  ResolvedFont entry = resolve();
  EXPECT_FALSE(entry.found);
  EXPECT_EQ(entry.error, errors::kFontNotFound);
  EXPECT_EQ(entry.weight, 700);
  EXPECT_EQ(entry.stretch, 3);
  EXPECT_EQ(entry.style, kStyleItalic);
  EXPECT_EQ(entry.axisValues, fullFont().axisValues);

  using P = FontPropertyId;
  const std::vector<std::pair<P, std::u16string>> expected = {
      {P::kPostScriptName, u"Fam-Bold"},
      {P::kFullName, u"Fam Bold"},
      {P::kFullName, u"NatFam Bold"},
      {P::kTypographicFamilyName, u"Fam"},
      {P::kWeightStretchStyleFamilyName, u"Fam"},
      {P::kWin32FamilyName, u"Fam"},
      {P::kTypographicFamilyName, u"NatFam"},
      {P::kWeightStretchStyleFamilyName, u"NatFam"},
      {P::kWin32FamilyName, u"NatFam"}};
  ASSERT_EQ(system().propertyCalls.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    const auto& call = system().propertyCalls[i];
    EXPECT_EQ(call.id, expected[i].first);
    EXPECT_EQ(call.value, expected[i].second);
    EXPECT_TRUE(call.withAxes);
    EXPECT_EQ(call.axes, fullFont().axisValues);
  }
  EXPECT_TRUE(system().familyCalls.empty());
  // The GDI probe asked for both family names at 28 px, with the registered weight and slant.
  const auto& probes = backend.defaultGdi.fontRequests;
  ASSERT_EQ(probes.size(), 2u);
  EXPECT_EQ(probes[0].faceName, u"Fam");
  EXPECT_EQ(probes[1].faceName, u"NatFam");
  EXPECT_EQ(probes[0].height, -28);
  EXPECT_EQ(probes[0].weight, 700);
  EXPECT_TRUE(probes[0].italic);
}

TEST_F(FontLookupTest, EmptyNamesAreSkipped) {
  init();
  RegisteredFont font;
  font.familyName = u"Only";
  add(font);
  EXPECT_EQ(resolve().error, errors::kFontNotFound);
  ASSERT_EQ(system().propertyCalls.size(), 3u);
  for (const auto& call : system().propertyCalls) EXPECT_EQ(call.value, u"Only");
  EXPECT_EQ(backend.defaultGdi.fontRequests.size(), 1u);
}

TEST_F(FontLookupTest, WithoutAxisAwareMatchingMatchesByPropertyThenByFamily) {
  init(/*fontSet1=*/false);
  ASSERT_EQ(ctx.platform().systemAxisAwareFontSet(), nullptr);
  add(fullFont());
  system().onFamily(u"NatFam", matchedFamily(u"NatFam"));
  ResolvedFont entry = resolve();
  EXPECT_TRUE(entry.found);
  EXPECT_EQ(entry.familyName, u"NatFam");
  ASSERT_EQ(system().propertyCalls.size(), 3u);
  for (const auto& call : system().propertyCalls) EXPECT_FALSE(call.withAxes);
  ASSERT_EQ(system().familyCalls.size(), 2u);
  EXPECT_EQ(system().familyCalls[0].name, u"Fam");
  EXPECT_EQ(system().familyCalls[1].name, u"NatFam");
  EXPECT_EQ(system().familyCalls[1].weight, 700);
  EXPECT_EQ(system().familyCalls[1].stretch, 3);
  EXPECT_EQ(system().familyCalls[1].style, kStyleItalic);
}

TEST(FontLookup, FirstSuccessfulStepWins) {
  using P = FontPropertyId;
  struct Case {
    const char* name;
    P id;
    std::u16string value;
    size_t callsMade;
  };
  const Case cases[] = {
      {"postscript", P::kPostScriptName, u"Fam-Bold", 1},
      {"full name", P::kFullName, u"Fam Bold", 2},
      {"native full name", P::kFullName, u"NatFam Bold", 3},
      {"typographic family", P::kTypographicFamilyName, u"Fam", 4},
      {"wss family", P::kWeightStretchStyleFamilyName, u"Fam", 5},
      {"win32 family", P::kWin32FamilyName, u"Fam", 6},
      {"native win32 family", P::kWin32FamilyName, u"NatFam", 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeBackend backend;
    RendererContext ctx(backend);
    ASSERT_TRUE(ctx.initialize());
    testing::activateFonts(ctx.registry(), {{u"f", fullFont()}});
    auto fonts = matchedFamily(u"Installed");
    backend.textEngine->systemFonts->onProperty(c.id, c.value, fonts);
    ResolvedFont entry;
    resolveFontEntry(ctx.platform(), ctx.registry(), u"f", entry);
    EXPECT_TRUE(entry.found);
    EXPECT_TRUE(entry.error.empty());
    EXPECT_EQ(entry.kind, FontKind::kDirectWrite);
    EXPECT_EQ(entry.familyName, u"Installed");
    EXPECT_EQ(entry.fontCollection, fonts->collection);
    EXPECT_EQ(backend.textEngine->systemFonts->propertyCalls.size(), c.callsMade);
    EXPECT_TRUE(backend.defaultGdi.fontRequests.empty());
  }
}

TEST(FontLookup, ErrorPrecedenceAcrossSteps) {
  using O = Outcome;
  struct Case {
    const char* name;
    O postScript, fullName, family;
    bool gdiAccepts;
    bool found;
    std::string_view error;
    FontKind kind;
  };
  const std::string_view none;
  const Case cases[] = {
      {"nothing anywhere", O::kNoMatch, O::kNoMatch, O::kNoMatch, false, false,
       errors::kFontNotFound, FontKind::kDirectWrite},
      {"only empty matches", O::kNoFonts, O::kNoFonts, O::kNoFonts, false, false,
       errors::kFontNotFound, FontKind::kDirectWrite},
      {"collection failure stands", O::kCollectionFails, O::kNoMatch, O::kNoMatch, false, false,
       errors::kFontCollectionCreateFailed, FontKind::kDirectWrite},
      {"empty match leaves earlier code", O::kCollectionFails, O::kNoFonts, O::kNoFonts, false,
       false, errors::kFontCollectionCreateFailed, FontKind::kDirectWrite},
      {"later failure overwrites", O::kCollectionFails, O::kNoFamilyName, O::kNoMatch, false, false,
       errors::kFontFamilyNameFailed, FontKind::kDirectWrite},
      {"later failure overwrites back", O::kNoFamilyName, O::kNoMatch, O::kCollectionFails, false,
       false, errors::kFontCollectionCreateFailed, FontKind::kDirectWrite},
      {"family success clears", O::kCollectionFails, O::kNoFamilyName, O::kAdopts, false, true,
       none, FontKind::kDirectWrite},
      {"gdi success clears", O::kCollectionFails, O::kNoMatch, O::kNoMatch, true, true, none,
       FontKind::kGdi},
      {"gdi unused after success", O::kAdopts, O::kNoMatch, O::kNoMatch, true, true, none,
       FontKind::kDirectWrite},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeBackend backend;
    testing::FakeGdi gdi;
    if (!c.gdiAccepts) gdi.selectFace = [](const GdiFontRequest&) { return u"Substitute"; };
    backend.gdiOverride = &gdi;
    RendererContext ctx(backend);
    ASSERT_TRUE(ctx.initialize());
    RegisteredFont font;
    font.postScriptName = u"PS";
    font.fullName = u"Full";
    font.familyName = u"Fam";
    testing::activateFonts(ctx.registry(), {{u"f", font}});
    FakeFontSet& system = *backend.textEngine->systemFonts;
    system.onProperty(FontPropertyId::kPostScriptName, u"PS", fontsFor(c.postScript, u"A"));
    system.onProperty(FontPropertyId::kFullName, u"Full", fontsFor(c.fullName, u"B"));
    system.onProperty(FontPropertyId::kWin32FamilyName, u"Fam", fontsFor(c.family, u"C"));

    ResolvedFont entry;
    resolveFontEntry(ctx.platform(), ctx.registry(), u"f", entry);
    EXPECT_EQ(entry.found, c.found);
    EXPECT_EQ(entry.error, c.error);
    EXPECT_EQ(entry.kind, c.kind);
    if (c.kind == FontKind::kGdi) {
      EXPECT_EQ(entry.familyName, u"Fam");
    }
    const bool directWriteAdopted =
        c.postScript == O::kAdopts || c.fullName == O::kAdopts || c.family == O::kAdopts;
    EXPECT_EQ(gdi.createdFonts.empty(), directWriteAdopted);
  }
}

TEST(FontLookup, GdiProbeAcceptsOnlyTheRequestedFace) {
  struct Case {
    const char* name;
    std::u16string selected;  // face the GDI-style backend reports for every request
    bool found;
    std::u16string family;
  };
  const Case cases[] = {
      {"same face", u"Fam", true, u"Fam"},
      {"same face other case", u"FAM", true, u"Fam"},
      {"substitute", u"Arial", false, u""},
      {"native family only", u"NatFam", true, u"NatFam"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeBackend backend;
    testing::FakeGdi gdi;
    std::u16string selected = c.selected;
    gdi.selectFace = [selected](const GdiFontRequest&) { return selected; };
    backend.gdiOverride = &gdi;
    RendererContext ctx(backend);
    ASSERT_TRUE(ctx.initialize());
    RegisteredFont font = fullFont();
    testing::activateFonts(ctx.registry(), {{u"f", font}});
    ResolvedFont entry;
    resolveFontEntry(ctx.platform(), ctx.registry(), u"f", entry);
    EXPECT_EQ(entry.found, c.found);
    if (c.found) {
      EXPECT_EQ(entry.kind, FontKind::kGdi);
      EXPECT_EQ(entry.familyName, c.family);
      EXPECT_TRUE(entry.error.empty());
      EXPECT_EQ(entry.fontCollection, nullptr);
    } else {
      EXPECT_EQ(entry.error, errors::kFontNotFound);
    }
    EXPECT_EQ(gdi.liveFonts, 0);  // the probe font is released at once
  }
}

TEST_F(FontLookupTest, AdoptionNarrowsToTheFirstFont) {
  struct Case {
    const char* name;
    bool fontSet1;
    int filteredCount;  // -1: filtering fails
    bool usesFiltered;
  };
  const Case cases[] = {
      {"one font", true, 1, true},
      {"filter fails", true, -1, false},
      {"filter keeps two", true, 2, false},
      {"filter yields none", true, 0, false},
      {"no version 1 view", false, 1, false},
  };
  init();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto matched = matchedFamily(u"Matched", 3);
    matched->hasAxisAware = c.fontSet1;
    std::shared_ptr<FakeFontSet> filtered;
    if (c.filteredCount >= 0) {
      filtered = matchedFamily(u"Filtered", uint32_t(c.filteredCount));
      matched->filtered = filtered;
    }
    ResolvedFont entry;
    RegisteredFont font;
    ASSERT_TRUE(adoptMatchedFonts(ctx.platform(), font, *matched, entry));
    EXPECT_EQ(entry.familyName, c.usesFiltered ? u"Filtered" : u"Matched");
    EXPECT_EQ(backend.textEngine->collectionRequests.back(),
              c.usesFiltered ? filtered.get() : matched.get());
    if (c.fontSet1) {
      ASSERT_EQ(matched->filterCalls.size(), 1u);
      EXPECT_EQ(matched->filterCalls[0], std::vector<uint32_t>{0});
    } else {
      EXPECT_TRUE(matched->filterCalls.empty());
    }
  }
}

// The installed faces a family match returns, as the platform reports them: weight, stretch, style.
struct Face {
  int weight, stretch, style;
};

std::shared_ptr<FakeFontSet> matchedFaces(const std::vector<Face>& faces) {
  auto matched = matchedFamily(u"Matched", uint32_t(faces.size()));
  matched->hasAxisAware = true;
  matched->filtered = matchedFamily(u"Filtered", 1);
  auto decimal = [](int value) {
    std::u16string text;
    for (char c : std::to_string(value)) text.push_back(char16_t(c));
    return makeStrings({{u"", text}});
  };
  for (uint32_t i = 0; i < faces.size(); ++i) {
    matched->fontProperties[{i, FontPropertyId::kWeight}] = decimal(faces[i].weight);
    matched->fontProperties[{i, FontPropertyId::kStretch}] = decimal(faces[i].stretch);
    matched->fontProperties[{i, FontPropertyId::kStyle}] = decimal(faces[i].style);
  }
  return matched;
}

TEST_F(FontLookupTest, AdoptsTheFaceClosestToTheRegisteredValues) {
  constexpr uint32_t kWdth = axisTag('w', 'd', 't', 'h');
  constexpr uint32_t kItal = axisTag('i', 't', 'a', 'l');
  // A family as the platform lists it, upright regular first.
  const std::vector<Face> family = {
      {400, 5, kStyleNormal}, {700, 5, kStyleNormal}, {400, 5, kStyleItalic},
      {700, 5, kStyleItalic}, {400, 3, kStyleNormal}, {400, 3, kStyleOblique},
      {300, 5, kStyleNormal}, {500, 5, kStyleNormal}, {900, 5, kStyleNormal},
  };
  const std::vector<Face> obliqueOnly = {{400, 5, kStyleNormal}, {400, 5, kStyleOblique}};
  const std::vector<Face> uprightOnly = {{400, 5, kStyleNormal}, {700, 5, kStyleNormal}};
  struct Case {
    const char* name;
    const std::vector<Face>* faces;
    int weight, stretch, style;
    AxisValues axes;  // empty: the weight alone, as a descriptor without axes gives
    uint32_t expected;
  };
  const Case cases[] = {
      {"regular", &family, 400, 5, kStyleNormal, {}, 0},
      {"bold", &family, 700, 5, kStyleNormal, {}, 1},
      {"italic", &family, 400, 5, kStyleItalic, {}, 2},
      {"bold italic", &family, 700, 5, kStyleItalic, {}, 3},
      {"condensed", &family, 400, 3, kStyleNormal, {}, 4},
      {"condensed italic takes the oblique", &family, 400, 3, kStyleItalic, {}, 5},
      {"oblique takes the italic", &family, 400, 5, kStyleOblique, {}, 2},
      {"italic takes the oblique", &obliqueOnly, 400, 5, kStyleItalic, {}, 1},
      {"no italic installed", &uprightOnly, 400, 5, kStyleItalic, {}, 0},
      {"450 goes up to 500", &family, 450, 5, kStyleNormal, {}, 7},
      {"350 goes lighter first", &family, 350, 5, kStyleNormal, {}, 6},
      {"800 goes heavier first", &family, 800, 5, kStyleNormal, {}, 8},
      {"axis weight outranks the style", &family, 400, 5, kStyleItalic, {{kWghtTag, 700}}, 3},
      {"axis width outranks the stretch",
       &family,
       400,
       5,
       kStyleNormal,
       {{kWghtTag, 400}, {kWdth, 75}},
       4},
      {"axis italic outranks the style",
       &family,
       400,
       5,
       kStyleNormal,
       {{kWghtTag, 400}, {kItal, 1}},
       2},
      {"last value of a tag wins",
       &family,
       400,
       5,
       kStyleNormal,
       {{kWghtTag, 400}, {kWghtTag, 700}},
       1},
      {"other axes leave the order",
       &family,
       400,
       5,
       kStyleNormal,
       {{kWghtTag, 400}, {axisTag('o', 'p', 's', 'z'), 30}},
       0},
  };
  init();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto matched = matchedFaces(*c.faces);
    RegisteredFont font;
    font.weight = c.weight;
    font.stretch = c.stretch;
    font.style = c.style;
    font.axisValues = c.axes.empty() ? AxisValues{{kWghtTag, float(c.weight)}} : c.axes;
    ResolvedFont entry;
    ASSERT_TRUE(adoptMatchedFonts(ctx.platform(), font, *matched, entry));
    ASSERT_EQ(matched->filterCalls.size(), 1u);
    EXPECT_EQ(matched->filterCalls[0], std::vector<uint32_t>{c.expected});
    EXPECT_EQ(entry.familyName, u"Filtered");
  }
}

TEST_F(FontLookupTest, UnreadableFaceValuesKeepThePlatformOrder) {
  struct Case {
    const char* name;
    FontPropertyId missing;
    const char16_t* badValue;  // nullptr: the value is missing
  };
  const Case cases[] = {
      {"weight missing", FontPropertyId::kWeight, nullptr},
      {"stretch missing", FontPropertyId::kStretch, nullptr},
      {"style missing", FontPropertyId::kStyle, nullptr},
      {"weight not a number", FontPropertyId::kWeight, u"bold"},
      {"style empty", FontPropertyId::kStyle, u""},
  };
  init();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto matched = matchedFaces({{400, 5, kStyleNormal}, {400, 5, kStyleItalic}});
    if (c.badValue) {
      matched->fontProperties[{1, c.missing}] = makeStrings({{u"", c.badValue}});
    } else {
      matched->fontProperties.erase({1, c.missing});
    }
    RegisteredFont font;
    font.style = kStyleItalic;
    font.axisValues = {{kWghtTag, 400}};
    ResolvedFont entry;
    ASSERT_TRUE(adoptMatchedFonts(ctx.platform(), font, *matched, entry));
    ASSERT_EQ(matched->filterCalls.size(), 1u);
    EXPECT_EQ(matched->filterCalls[0], std::vector<uint32_t>{0});
  }
}

TEST_F(FontLookupTest, AdoptionFailures) {
  struct Case {
    const char* name;
    uint32_t fonts;
    bool collection;
    uint32_t families;
    std::string_view error;
  };
  const Case cases[] = {
      {"no fonts", 0, true, 1, ""},
      {"no collection", 1, false, 1, errors::kFontCollectionCreateFailed},
      {"collection without families", 1, true, 0, errors::kFontCollectionCreateFailed},
      {"no family name", 1, true, 1, errors::kFontFamilyNameFailed},
  };
  init();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeFontSet matched(c.fonts, false);
    if (c.collection) {
      auto collection = std::make_shared<FakeFontCollection>();
      collection->families = c.families;
      matched.collection = collection;
    }
    ResolvedFont entry;
    entry.error = "EARLIER";
    RegisteredFont font;
    font.familyName = u"Fam";
    EXPECT_FALSE(adoptMatchedFonts(ctx.platform(), font, matched, entry));
    EXPECT_FALSE(entry.found);
    EXPECT_EQ(entry.error, c.error.empty() ? std::string_view("EARLIER") : c.error);
    EXPECT_EQ(entry.fontCollection, nullptr);
  }
}

TEST_F(FontLookupTest, FamilyNameChoice) {
  using P = FontPropertyId;
  struct Case {
    const char* name;
    std::vector<std::u16string> inCollection;
    std::map<P, std::shared_ptr<const LocalizedStrings>> properties;
    std::shared_ptr<const LocalizedStrings> familyNames;
    std::u16string chosen;  // empty: FONT_FAMILY_NAME_FAILED
  };
  const Case cases[] = {
      {"registered family", {u"fam", u"nat"}, {}, nullptr, u"Fam"},
      {"registered native family",
       {u"Nat", u"Wss"},
       {{P::kWeightStretchStyleFamilyName, makeStrings({{u"en-us", u"Wss"}})}},
       nullptr,
       u"Nat"},
      {"weight-stretch-style before typographic",
       {u"Wss", u"Typo"},
       {{P::kTypographicFamilyName, makeStrings({{u"en-us", u"Typo"}})},
        {P::kWeightStretchStyleFamilyName, makeStrings({{u"en-us", u"Wss"}})}},
       nullptr,
       u"Wss"},
      {"property not in collection is passed over",
       {u"Typo"},
       {{P::kTypographicFamilyName, makeStrings({{u"en-us", u"Typo"}})},
        {P::kWeightStretchStyleFamilyName, makeStrings({{u"en-us", u"Wss"}})}},
       nullptr,
       u"Typo"},
      {"win32 last",
       {u"Win"},
       {{P::kWin32FamilyName, makeStrings({{u"en-us", u"Win"}})}},
       nullptr,
       u"Win"},
      {"en-us preferred",
       {u"Deutsch", u"English"},
       {{P::kWeightStretchStyleFamilyName,
         makeStrings({{u"de-de", u"Deutsch"}, {u"EN-US", u"English"}})}},
       nullptr,
       u"English"},
      {"collection family unchecked", {}, {}, makeStrings({{u"ja-jp", u"Coll"}}), u"Coll"},
      {"nothing", {}, {{P::kWin32FamilyName, makeStrings({{u"en-us", u"Win"}})}}, nullptr, u""},
  };
  init();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeFontSet matched(1, false);
    auto collection = std::make_shared<FakeFontCollection>();
    collection->knownFamilies = c.inCollection;
    collection->firstFamilyNames = c.familyNames;
    matched.collection = collection;
    matched.firstFontProperties = c.properties;
    RegisteredFont font;
    font.familyName = u"Fam";
    font.nativeFamilyName = u"Nat";
    ResolvedFont entry;
    const bool adopted = adoptMatchedFonts(ctx.platform(), font, matched, entry);
    EXPECT_EQ(adopted, !c.chosen.empty());
    EXPECT_EQ(entry.familyName, c.chosen);
    EXPECT_EQ(entry.error, adopted ? "" : errors::kFontFamilyNameFailed);
    for (const auto& call : matched.propertyValueCalls) EXPECT_EQ(call.first, 0u);
  }
}

TEST(PickLocalizedString, PrefersEnUsElseFirst) {
  struct Case {
    const char* name;
    std::shared_ptr<testing::FakeLocalizedStrings> strings;
    bool failRead;
    std::u16string expected;
  };
  const Case cases[] = {
      {"no list", nullptr, false, u""},
      {"empty list", makeStrings({}), false, u""},
      {"en-us later", makeStrings({{u"fr-fr", u"Fr"}, {u"en-us", u"En"}}), false, u"En"},
      {"locale case ignored", makeStrings({{u"fr-fr", u"Fr"}, {u"En-US", u"En"}}), false, u"En"},
      {"en-gb is not en-us", makeStrings({{u"fr-fr", u"Fr"}, {u"en-gb", u"Gb"}}), false, u"Fr"},
      {"read fails", makeStrings({{u"en-us", u"En"}}), true, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.strings) {
      c.strings->failGetString = c.failRead;
    }
    EXPECT_EQ(pickLocalizedString(c.strings.get()), c.expected);
  }
}

TEST(ParseFontIds, KeepsStringsInOrder) {
  struct Case {
    const char* json;
    std::vector<std::u16string> ids;
  };
  const Case cases[] = {
      {R"({})", {}},
      {R"({"fontIds":"a"})", {}},
      {R"({"fontIds":{"0":"a"}})", {}},
      {R"({"fontIds":[]})", {}},
      {R"({"fontIds":["a",1,"b"]})", {u"a", u"b"}},
      {R"({"fontIds":[null,{},["x"],true,"c"]})", {u"c"}},
      {R"({"fontIds":["","a","a","A"]})", {u"", u"a", u"a", u"A"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json);
    EXPECT_EQ(parseFontIds(JsonObject::parse(c.json)), c.ids);
  }
}

}  // namespace
}  // namespace kfp
