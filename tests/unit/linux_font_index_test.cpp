// The font index built from the fonts installed on this machine, the fontconfig readings it rests
// on, and the name tables it reads when first needed.

#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <tuple>

#include "platform/linux/files/face_store.h"
#include "platform/linux/fonts/face_name_reader.h"
#include "platform/linux/fonts/font_index.h"
#include "platform/linux/fonts/font_set.h"
#include "platform/linux/fonts/fontconfig_listing.h"

namespace kfp::linux_backend {
namespace {

std::string narrow(std::u16string_view text) {
  return std::string(text.begin(), text.end());
}

class InstalledIndex : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { index_ = FontIndex::build(); }
  static void TearDownTestSuite() { index_.reset(); }
  static std::shared_ptr<FontIndex> index_;
};
std::shared_ptr<FontIndex> InstalledIndex::index_;

TEST(FontconfigReading, ScalesConvertToTheSeamsScales) {
  struct Case {
    double fcWeight;
    int weight;
  };
  const Case weights[] = {{0, 100},   {40, 200},  {50, 300},  {80, 400},  {100, 500},
                          {180, 600}, {200, 700}, {205, 800}, {210, 900}, {215, 999}};
  for (const Case& c : weights) {
    SCOPED_TRACE(c.fcWeight);
    EXPECT_EQ(weightFromFontconfig(c.fcWeight), c.weight);
  }
  struct WidthCase {
    double fcWidth;
    int stretch;
  };
  const WidthCase widths[] = {{50, 1},  {63, 2},  {75, 3},  {87, 4}, {100, 5}, {113, 6},
                              {125, 7}, {150, 8}, {200, 9}, {30, 1}, {400, 9}};
  for (const WidthCase& c : widths) {
    SCOPED_TRACE(c.fcWidth);
    EXPECT_EQ(stretchFromFontconfig(c.fcWidth), c.stretch);
  }
  struct SlantCase {
    int fcSlant;
    int style;
  };
  const SlantCase slants[] = {{0, kStyleNormal}, {100, kStyleItalic}, {110, kStyleOblique}};
  for (const SlantCase& c : slants) {
    SCOPED_TRACE(c.fcSlant);
    EXPECT_EQ(styleFromFontconfig(c.fcSlant), c.style);
  }
}

TEST(FontconfigReading, FamilyListSplitsIntoTheThreeKinds) {
  struct Case {
    const char* name;
    std::vector<LocalizedName> fontconfigFamilies;
    std::vector<LocalizedName> wws, typographic, legacy;
  };
  const Case cases[] = {
      {"one name is every kind",
       {{u"en-us", u"DejaVu Sans"}},
       {{u"en-us", u"DejaVu Sans"}},
       {{u"en-us", u"DejaVu Sans"}},
       {{u"en-us", u"DejaVu Sans"}}},
      {"typographic then legacy",
       {{u"en-us", u"DejaVu Sans"}, {u"en-us", u"DejaVu Sans Condensed"}},
       {{u"en-us", u"DejaVu Sans"}},
       {{u"en-us", u"DejaVu Sans"}},
       {{u"en-us", u"DejaVu Sans Condensed"}}},
      {"WWS, typographic, legacy",
       {{u"en-us", u"Fam Caption"}, {u"en-us", u"Fam"}, {u"en-us", u"Fam Caption Light"}},
       {{u"en-us", u"Fam Caption"}},
       {{u"en-us", u"Fam"}},
       {{u"en-us", u"Fam Caption Light"}}},
      {"each language on its own",
       {{u"en-us", u"Mincho"}, {u"ja", u"\u660E\u671D"}, {u"en-us", u"Mincho Old"}},
       {{u"en-us", u"Mincho"}, {u"ja", u"\u660E\u671D"}},
       {{u"en-us", u"Mincho"}, {u"ja", u"\u660E\u671D"}},
       {{u"en-us", u"Mincho Old"}, {u"ja", u"\u660E\u671D"}}},
      {"no names", {}, {}, {}, {}},
  };
  auto same = [](const std::vector<LocalizedName>& a, const std::vector<LocalizedName>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
      if (a[i].locale != b[i].locale || a[i].text != b[i].text) return false;
    }
    return true;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FontRecord record;
    assignFamilyKinds(c.fontconfigFamilies, record);
    EXPECT_TRUE(same(record.wwsFamilyNames, c.wws));
    EXPECT_TRUE(same(record.typographicFamilyNames, c.typographic));
    EXPECT_TRUE(same(record.win32FamilyNames, c.legacy));
  }
}

TEST(FontNames, FoldingIgnoresCaseBeyondAscii) {
  struct Case {
    std::u16string_view a, b;
    bool equal;
  };
  const Case cases[] = {
      {u"DejaVu Sans", u"dejavu sans", true},
      {u"DejaVu Sans", u"DejaVu  Sans", false},  // blanks count
      {u"\u00C9cole", u"\u00E9COLE", true},
      {u"Stra\u00DFe", u"STRASSE", true},
      {u"\u0391\u03B8\u03AE\u03BD\u03B1", u"\u03B1\u0398\u0397\u039D\u0391", false},  // accent
      {u"\u0391\u0398\u0389\u039D\u0391", u"\u03B1\u03B8\u03AE\u03BD\u03B1", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(narrow(c.b));
    EXPECT_EQ(foldName(c.a) == foldName(c.b), c.equal);
  }
}

TEST_F(InstalledIndex, OneRecordPerFaceAndInstanceWithEnglishAsEnUs) {
  ASSERT_NE(index_, nullptr);
  std::set<std::tuple<std::string, uint32_t, uint32_t>> seen;
  for (uint32_t id = 0; id < index_->size(); ++id) {
    const FontRecord& r = index_->record(id);
    SCOPED_TRACE(r.path + "#" + std::to_string(r.faceIndex) + "/" +
                 std::to_string(r.namedInstance));
    EXPECT_TRUE(seen.insert({r.path, r.faceIndex, r.namedInstance}).second) << "duplicate";
    EXPECT_EQ(r.coordinates.size(), r.axes.size());
    for (const LocalizedName& name : r.typographicFamilyNames) EXPECT_NE(name.locale, u"en");
  }
  std::span<const uint32_t> terminus = index_->byWin32Family(u"terminus");
  ASSERT_FALSE(terminus.empty()) << "bitmap-only faces are indexed";
  for (uint32_t id : terminus) EXPECT_FALSE(index_->record(id).scalable);
  std::span<const uint32_t> dejaVu = index_->byPostScriptName(u"DejaVuSans");
  ASSERT_EQ(dejaVu.size(), 1u);
  ASSERT_FALSE(index_->record(dejaVu[0]).typographicFamilyNames.empty());
  EXPECT_EQ(narrow(index_->record(dejaVu[0]).typographicFamilyNames[0].locale), "en-us");
}

TEST_F(InstalledIndex, KeepsTheSansSerifSubstitutesOfItsConfiguration) {
  ASSERT_NE(index_, nullptr);
  ASSERT_FALSE(index_->sansFamilies().empty());
  bool installed = false;
  for (const std::u16string& family : index_->sansFamilies()) {
    EXPECT_NE(foldName(family), foldName(u"sans-serif"));
    installed = installed || !index_->byWin32Family(family).empty();
  }
  EXPECT_TRUE(installed) << "no preferred sans-serif family is installed";
  EXPECT_TRUE(FontIndex::fromRecords({})->sansFamilies().empty());
  EXPECT_EQ(FontIndex::fromRecords({}, {u"A", u"B"})->sansFamilies(),
            (std::vector<std::u16string>{u"A", u"B"}));
}

TEST_F(InstalledIndex, NamedInstancesCarryTheFontsOwnCoordinates) {
  ASSERT_NE(index_, nullptr);
  struct Case {
    std::u16string_view fullName;
    float wght;
    float slnt;
    int weight;
    int style;
  };
  const Case cases[] = {
      {u"Inter Thin", 100, 0, 100, kStyleNormal},
      {u"Inter Semi Bold", 600, 0, 600, kStyleNormal},
      {u"Inter Black Italic", 900, -10, 900, kStyleItalic},
  };
  const uint32_t slntTag = axisTag('s', 'l', 'n', 't');
  for (const Case& c : cases) {
    SCOPED_TRACE(narrow(c.fullName));
    bool sawSlntAxis = false;
    std::span<const uint32_t> ids = index_->byFullName(c.fullName);
    ASSERT_FALSE(ids.empty());
    for (uint32_t id : ids) {
      const FontRecord& r = index_->record(id);
      EXPECT_GT(r.namedInstance, 0u);
      EXPECT_EQ(r.weight, c.weight);
      EXPECT_EQ(r.style, c.style);
      for (const AxisValue& v : r.coordinates) {
        if (v.tag == kWghtTag) {
          EXPECT_EQ(v.value, c.wght);
        } else if (v.tag == slntTag) {
          sawSlntAxis = true;
          EXPECT_EQ(v.value, c.slnt);
        }
      }
      ASSERT_FALSE(r.axes.empty());
      EXPECT_EQ(r.axes[0].tag, kWghtTag);
      EXPECT_LT(r.axes[0].minimum, r.axes[0].maximum);
    }
    EXPECT_TRUE(sawSlntAxis) << "Inter.var.ttf has wght and slnt";
  }
}

// fontconfig keeps one of two family names that differ only by blanks; the name table has both.
TEST_F(InstalledIndex, FindsFamilyNamesThatDifferOnlyByBlanks) {
  struct Case {
    std::u16string_view name;
    const char* file;  // every face found has this file name prefix
    size_t faces;
  };
  const Case cases[] = {
      {u"Noto Sans MeeteiMayek", "NotoSansMeeteiMayek-", 2},
      {u"Noto Sans Meetei Mayek", "NotoSansMeeteiMayek-", 2},
      {u"Noto Sans NewTaiLue", "NotoSansNewTaiLue-", 1},
      {u"Noto Sans OldPersian", "NotoSansOldPersian-", 1},
      {u"Noto Sans OldSogdian", "NotoSansOldSogdian-", 1},
      {u"Noto Sans PauCinHau", "NotoSansPauCinHau-", 1},
      {u"Noto Sans WarangCiti", "NotoSansWarangCiti-", 1},
      {u"NotoSerifTamilSlanted", "NotoSerifTamilSlanted-", 2},
      {u"Noto Serif Tamil Slanted", "NotoSerifTamilSlanted-", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name.begin(), c.name.end()));
    std::span<const uint32_t> ids = index_->byWin32Family(c.name);
    if (ids.empty()) ids = index_->byTypographicFamily(c.name);
    ASSERT_EQ(ids.size(), c.faces);
    for (uint32_t id : ids) {
      const std::string& path = index_->record(id).path;
      EXPECT_EQ(path.substr(path.rfind('/') + 1).rfind(c.file, 0), 0u) << path;
    }
  }
  // Full names come from the name table too, so an index lookup by either spelling works.
  EXPECT_FALSE(index_->byFullName(u"Noto Sans Meetei Mayek Bold").empty());
}

TEST_F(InstalledIndex, MemoryEstimateIsSmall) {
  ASSERT_NE(index_, nullptr);
  EXPECT_GT(index_->memoryBytes(), index_->size() * sizeof(FontRecord));
  EXPECT_LT(index_->memoryBytes(), size_t(16) << 20);
}

}  // namespace
}  // namespace kfp::linux_backend

namespace kfp::linux_backend {
namespace {

std::vector<std::pair<std::u16string, std::u16string>> pairs(const std::vector<LocalizedName>& l) {
  std::vector<std::pair<std::u16string, std::u16string>> out;
  for (const LocalizedName& name : l) out.push_back({name.locale, name.text});
  return out;
}

void expectSameNames(const FontRecord& got, const FontRecord& want) {
  EXPECT_EQ(got.postScriptName, want.postScriptName);
  EXPECT_EQ(pairs(got.fullNames), pairs(want.fullNames));
  EXPECT_EQ(pairs(got.typographicFamilyNames), pairs(want.typographicFamilyNames));
  EXPECT_EQ(pairs(got.wwsFamilyNames), pairs(want.wwsFamilyNames));
  EXPECT_EQ(pairs(got.win32FamilyNames), pairs(want.win32FamilyNames));
}

// The index reads name tables when first needed; every way in gives what reading them all at
// start-up gave: a record asked for, a face's names adopted from its open face, and every lookup by
// a name, however the first need arose.
TEST(LazyNameReading, EveryWayInGivesTheNamesOfReadingThemAllAtStartUp) {
  std::optional<InstalledFonts> installed = listInstalledFonts();
  ASSERT_TRUE(installed.has_value());
  ASSERT_GT(installed->records.size(), 10u);
  std::vector<FontRecord> eagerRecords = installed->records;
  addOwnNames(eagerRecords, 2);
  const std::shared_ptr<FontIndex> eager = FontIndex::fromRecords(eagerRecords);
  const auto lazy = [&] {
    return FontIndex::fromRecords(installed->records, installed->sansFamilies,
                                  installed->ownNamesPending);
  };
  const uint32_t n = eager->size();
  ASSERT_GT(lazy()->recordsAwaitingOwnNames(), n / 2) << "start-up reads only variable faces";

  {
    SCOPED_TRACE("PostScript lookups and the scalable set read nothing");
    auto index = lazy();
    const size_t waiting = index->recordsAwaitingOwnNames();
    for (uint32_t id = 0; id < n; ++id) {
      EXPECT_FALSE(index->byPostScriptName(eager->record(id).postScriptName).empty());
    }
    LinuxFontSet::scalableFonts(index);
    EXPECT_EQ(index->recordsAwaitingOwnNames(), waiting);
  }
  {
    SCOPED_TRACE("records asked for one by one");
    auto index = lazy();
    for (uint32_t id = n; id-- > 0;) expectSameNames(index->record(id), eager->record(id));
    EXPECT_EQ(index->recordsAwaitingOwnNames(), 0u);
  }
  {
    SCOPED_TRACE("names adopted from open faces");
    auto index = lazy();
    auto store = FaceStore::create();
    ASSERT_NE(store, nullptr);
    size_t adopted = 0;
    for (uint32_t id = 0; id < n; id += 7) {
      std::shared_ptr<LoadedFace> face = store->face(index->recordWithoutOwnNames(id));
      if (!face) continue;
      index->adoptOwnNames(id, hb_font_get_face(face->hbFont()));
      expectSameNames(index->recordWithoutOwnNames(id), eager->record(id));
      ++adopted;
    }
    EXPECT_GT(adopted, 0u);
  }
  // The first name lookup reads every name table, however many records were read before.
  for (uint32_t readFirst : {0u, 1u, n / 3}) {
    SCOPED_TRACE(readFirst);
    auto index = lazy();
    for (uint32_t id = 0; id < readFirst; ++id) index->record(id);
    for (uint32_t id = 0; id < n; ++id) {
      const FontRecord& r = eager->record(id);
      const auto same = [](std::span<const uint32_t> a, std::span<const uint32_t> b) {
        return std::vector<uint32_t>(a.begin(), a.end()) ==
               std::vector<uint32_t>(b.begin(), b.end());
      };
      for (const LocalizedName& name : r.fullNames) {
        EXPECT_TRUE(same(index->byFullName(name.text), eager->byFullName(name.text)));
      }
      for (const LocalizedName& name : r.typographicFamilyNames) {
        EXPECT_TRUE(
            same(index->byTypographicFamily(name.text), eager->byTypographicFamily(name.text)));
      }
      for (const LocalizedName& name : r.wwsFamilyNames) {
        EXPECT_TRUE(same(index->byWwsFamily(name.text), eager->byWwsFamily(name.text)));
      }
      for (const LocalizedName& name : r.win32FamilyNames) {
        EXPECT_TRUE(same(index->byWin32Family(name.text), eager->byWin32Family(name.text)));
      }
    }
    EXPECT_EQ(index->recordsAwaitingOwnNames(), 0u);
  }
}

}  // namespace
}  // namespace kfp::linux_backend

namespace kfp::linux_backend {
namespace {

// The index reads the configuration's font sets in place; it must hold exactly the faces a
// fontconfig listing gives (the variable-font patterns aside, which only mark faces with axes).
TEST(FontconfigReading, RecordsAreTheFacesTheListingGives) {
  std::optional<InstalledFonts> installed = listInstalledFonts();
  ASSERT_TRUE(installed.has_value());
  std::set<std::tuple<std::string, uint32_t, uint32_t>> indexed;
  for (const FontRecord& r : installed->records) {
    indexed.insert({r.path, r.faceIndex, r.namedInstance});
  }
  FcConfig* config = FcInitLoadConfigAndFonts();
  ASSERT_NE(config, nullptr);
  FcPattern* all = FcPatternCreate();
  FcObjectSet* objects = FcObjectSetBuild(FC_FILE, FC_INDEX, FC_VARIABLE, nullptr);
  FcFontSet* fonts = FcFontList(config, all, objects);
  ASSERT_NE(fonts, nullptr);
  std::set<std::tuple<std::string, uint32_t, uint32_t>> listed;
  for (int i = 0; i < fonts->nfont; ++i) {
    FcChar8* file = nullptr;
    int index = 0;
    FcBool variable = FcFalse;
    FcPatternGetBool(fonts->fonts[i], FC_VARIABLE, 0, &variable);
    if (variable || FcPatternGetString(fonts->fonts[i], FC_FILE, 0, &file) != FcResultMatch) {
      continue;
    }
    FcPatternGetInteger(fonts->fonts[i], FC_INDEX, 0, &index);
    listed.insert(
        {reinterpret_cast<const char*>(file), uint32_t(index) & 0xFFFF, uint32_t(index) >> 16});
  }
  FcFontSetDestroy(fonts);
  FcObjectSetDestroy(objects);
  FcPatternDestroy(all);
  FcConfigDestroy(config);
  EXPECT_GT(listed.size(), 10u);
  EXPECT_EQ(indexed, listed);
}

}  // namespace
}  // namespace kfp::linux_backend
