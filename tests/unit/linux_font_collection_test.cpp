// One-font and family collections built from matched installed fonts, and the faces they open.

#include <gtest/gtest.h>

#include "platform/linux/fonts/font_collection.h"

#include FT_MULTIPLE_MASTERS_H
#include <string>

#include "platform/linux/fonts/font_index.h"
#include "platform/linux/fonts/font_set.h"

namespace kfp::linux_backend {
namespace {

std::string narrow(std::u16string_view text) {
  return std::string(text.begin(), text.end());
}

class InstalledCollections : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    index_ = FontIndex::build();
    faces_ = FaceStore::create();
  }
  static void TearDownTestSuite() {
    index_.reset();
    faces_.reset();
  }
  static std::shared_ptr<LinuxFontCollection> collectionOf(const FontProperty& property) {
    FontSetRef matched = LinuxFontSet::scalableFonts(index_)->matchProperty(property);
    const uint32_t first = 0;
    FontSetRef one = matched->asAxisAware()->filteredFonts({&first, 1});
    return one ? createLinuxFontCollection(*faces_, *one) : nullptr;
  }
  static std::shared_ptr<FontIndex> index_;
  static std::shared_ptr<FaceStore> faces_;
};
std::shared_ptr<FontIndex> InstalledCollections::index_;
std::shared_ptr<FaceStore> InstalledCollections::faces_;

TEST_F(InstalledCollections, OneFontCollectionKnowsItsFamilyNames) {
  struct Case {
    std::u16string_view postScript;
    std::u16string_view englishFamily;  // familyNames(0) for en-us
    std::vector<std::u16string_view> found;
    std::vector<std::u16string_view> notFound;
  };
  const Case cases[] = {
      {u"DejaVuSans-Bold",
       u"DejaVu Sans",
       {u"DejaVu Sans", u"DEJAVU SANS"},
       {u"DejaVu Sans Bold", u"DejaVu Serif", u"DejaVu", u""}},
      // Typographic family and the legacy one both name the face.
      {u"DejaVuSansCondensed-Bold",
       u"DejaVu Sans",
       {u"DejaVu Sans", u"dejavu sans condensed"},
       {u"DejaVu Sans Condensed Bold"}},
      {u"DejaVuSans-ExtraLight", u"DejaVu Sans", {u"DejaVu Sans Light", u"DejaVu Sans"}, {}},
      {u"Inter_700wght", u"Inter", {u"inter"}, {u"Inter Bold"}},
      {u"NotoColorEmoji", u"Noto Color Emoji", {u"Noto Color Emoji"}, {u"Noto Emoji"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(narrow(c.postScript));
    auto collection = collectionOf({FontPropertyId::kPostScriptName, c.postScript});
    ASSERT_NE(collection, nullptr);
    EXPECT_EQ(collection->familyCount(), 1u);
    auto names = collection->familyNames(0);
    ASSERT_NE(names, nullptr);
    uint32_t english = 99;
    ASSERT_TRUE(names->findLocaleName(u"en-us", &english));
    std::u16string text;
    ASSERT_TRUE(names->getString(english, &text));
    EXPECT_EQ(narrow(text), narrow(c.englishFamily));
    EXPECT_EQ(collection->familyNames(1), nullptr);
    for (std::u16string_view name : c.found)
      EXPECT_TRUE(collection->findFamilyName(name)) << narrow(name);
    for (std::u16string_view name : c.notFound) {
      EXPECT_FALSE(collection->findFamilyName(name)) << narrow(name);
    }
  }
}

TEST_F(InstalledCollections, FaceForPicksFromTheCollectionsFamily) {
  FontSetRef family = LinuxFontSet::scalableFonts(index_)->matchFamily(u"DejaVu Sans", 400, 5, 0);
  auto collection = createLinuxFontCollection(*faces_, *family);
  ASSERT_NE(collection, nullptr);
  EXPECT_EQ(collection->familyCount(), 1u);  // condensed and light faces group under DejaVu Sans
  struct Case {
    std::u16string_view family;
    int weight, stretch, style;
    std::u16string_view postScript;  // empty: no face
  };
  const Case cases[] = {
      {u"DejaVu Sans", 700, 5, kStyleItalic, u"DejaVuSans-BoldOblique"},
      {u"dejavu sans", 400, 5, kStyleNormal, u"DejaVuSans"},
      {u"DejaVu Sans Condensed", 400, 5, kStyleNormal, u"DejaVuSansCondensed"},
      {u"DejaVu Sans Light", 700, 5, kStyleNormal, u"DejaVuSans-ExtraLight"},
      {u"DejaVu Serif", 400, 5, kStyleNormal, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(narrow(c.family));
    auto handle = collection->faceFor(c.family, c.weight, c.stretch, c.style);
    if (c.postScript.empty()) {
      EXPECT_EQ(handle, nullptr);
      continue;
    }
    ASSERT_NE(handle, nullptr);
    auto face = faces_->open(*handle);
    ASSERT_NE(face, nullptr);
    EXPECT_EQ(narrow(face->record().postScriptName), narrow(c.postScript));
    EXPECT_NE(face->ftFace(), nullptr);
    EXPECT_NE(face->hbFont(), nullptr);
  }
}

TEST_F(InstalledCollections, NamedInstanceFacesStartAtTheInstanceCoordinates) {
  struct Case {
    std::u16string_view fullName;
    float wght;
  };
  const Case cases[] = {{u"Inter Thin", 100}, {u"Inter Extra Bold", 800}, {u"Inter", 400}};
  for (const Case& c : cases) {
    SCOPED_TRACE(narrow(c.fullName));
    auto collection = collectionOf({FontPropertyId::kFullName, c.fullName});
    ASSERT_NE(collection, nullptr);
    auto handle = collection->faceFor(u"Inter", 400, 5, kStyleNormal);
    ASSERT_NE(handle, nullptr);
    auto face = faces_->open(*handle);
    ASSERT_NE(face, nullptr);

    unsigned int count = 0;
    const float* hbCoords = hb_font_get_var_coords_design(face->hbFont(), &count);
    ASSERT_FALSE(face->record().axes.empty());
    // No coordinates set means the axis defaults.
    EXPECT_FLOAT_EQ(count ? hbCoords[0] : face->record().axes[0].defaultValue, c.wght);

    FT_Fixed ftCoords[8] = {};
    ASSERT_EQ(FT_Get_Var_Design_Coordinates(face->ftFace(), 1, ftCoords), 0);
    EXPECT_FLOAT_EQ(float(ftCoords[0]) / 65536.0f, c.wght);
  }
}

TEST(LinuxFontCollectionFailures, AnUnopenableFaceFailsTheCollection) {
  FontRecord good;
  good.path = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
  good.postScriptName = u"DejaVuSans";
  FontRecord missing = good;
  missing.path = "/nonexistent/font.ttf";
  FontRecord notAFont = good;
  notAFont.path = "/etc/hostname";
  FontRecord badFaceIndex = good;
  badFaceIndex.faceIndex = 3;
  FontRecord badInstance = good;
  badInstance.namedInstance = 2;  // a static font has no instances
  auto index = FontIndex::fromRecords({good, missing, notAFont, badFaceIndex, badInstance});
  auto faces = FaceStore::create();
  ASSERT_NE(faces, nullptr);

  struct Case {
    const char* name;
    std::vector<uint32_t> ids;
    bool opens;
  };
  const Case cases[] = {
      {"good", {0}, true},
      {"missing file", {1}, false},
      {"not a font", {2}, false},
      {"face index beyond the file", {3}, false},
      {"instance of a static font", {4}, false},
      {"one bad face spoils the set", {0, 1}, false},
      {"empty set", {}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LinuxFontSet set(index, c.ids);
    auto collection = createLinuxFontCollection(*faces, set);
    EXPECT_EQ(collection != nullptr, c.opens);
    if (collection) {
      EXPECT_EQ(collection->familyCount(), c.ids.empty() ? 0u : 1u);
    }
  }
}

}  // namespace
}  // namespace kfp::linux_backend
