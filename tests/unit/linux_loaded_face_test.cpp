// An open face without FreeType: its table copies, bold flag and line metrics read from the table
// directory in the mapping agree with FreeType's reading of the same face; it opens the files
// FreeType opens and refuses broken ones; and measuring leaves FreeType closed until something is
// drawn.

#include <freetype/tttables.h>
#include <gtest/gtest.h>
#include <hb-ot.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "linux_text_fixture.h"
#include "platform/linux/files/face_store.h"
#include "platform/linux/fonts/font_index.h"
#include "platform/linux/raster/glyph_rasterizer.h"
#include "platform/linux/raster/graphics.h"
#include "support/installed_fonts.h"

namespace kfp::linux_backend {
namespace {

namespace fs = std::filesystem;

constexpr char kDejaVuSans[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

uint32_t be32(const std::string& b, size_t at) {
  return uint32_t(uint8_t(b[at])) << 24 | uint32_t(uint8_t(b[at + 1])) << 16 |
         uint32_t(uint8_t(b[at + 2])) << 8 | uint32_t(uint8_t(b[at + 3]));
}
void putBe32(std::string& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = char(v >> (24 - 8 * i));
}

std::string tableThroughFreeType(FT_Face face, hb_tag_t tag) {
  FT_ULong length = 0;
  if (FT_Load_Sfnt_Table(face, tag, 0, nullptr, &length) != 0) return {};
  std::string bytes(length, '\0');
  FT_Load_Sfnt_Table(face, tag, 0, reinterpret_cast<FT_Byte*>(bytes.data()), &length);
  return bytes;
}

std::string tableThroughHarfBuzz(const LoadedFace& face, hb_tag_t tag) {
  hb_blob_t* blob = hb_face_reference_table(hb_font_get_face(face.hbFont()), tag);
  unsigned length = 0;
  const char* data = hb_blob_get_data(blob, &length);
  std::string bytes(data ? data : "", data ? length : 0);
  hb_blob_destroy(blob);
  return bytes;
}

TEST(LoadedFace, TableReadingsAgreeWithFreeTypeForInstalledFaces) {
  std::shared_ptr<FontIndex> index = FontIndex::build();
  ASSERT_NE(index, nullptr);
  auto store = FaceStore::create();
  ASSERT_NE(store, nullptr);
  const hb_tag_t kTags[] = {HB_TAG('c', 'm', 'a', 'p'), HB_TAG('h', 'm', 't', 'x'),
                            HB_TAG('G', 'P', 'O', 'S'), HB_TAG('O', 'S', '/', '2'),
                            HB_TAG('n', 'a', 'm', 'e'), HB_TAG('f', 'v', 'a', 'r'),
                            HB_TAG('C', 'B', 'L', 'C')};
  size_t compared = 0, bold = 0, instances = 0;
  for (uint32_t id = 0; id < index->size(); ++id) {
    const FontRecord& record = index->record(id);
    if (!record.scalable) continue;
    SCOPED_TRACE(record.path + " #" + std::to_string(record.faceIndex) + "/" +
                 std::to_string(record.namedInstance));
    std::shared_ptr<LoadedFace> face = store->face(record);
    if (!face) continue;
    // Read from the tables first, before FreeType is opened at all.
    const bool markedBold = face->markedBold();
    const FaceLineMetrics metrics = face->lineMetrics();
    FT_Face ft = face->ftFace();
    ASSERT_NE(ft, nullptr);
    EXPECT_EQ(markedBold, (ft->style_flags & FT_STYLE_FLAG_BOLD) != 0);
    const FaceLineMetrics expected = readLineMetrics(ft);
    EXPECT_EQ(metrics.ascent, expected.ascent);
    EXPECT_EQ(metrics.descent, expected.descent);
    EXPECT_EQ(metrics.lineGap, expected.lineGap);
    EXPECT_EQ(metrics.unitsPerEm, expected.unitsPerEm);
    for (hb_tag_t tag : kTags) {
      EXPECT_EQ(tableThroughHarfBuzz(*face, tag), tableThroughFreeType(ft, tag)) << tag;
    }
    ++compared;
    bold += markedBold;
    instances += record.namedInstance != 0;
  }
  EXPECT_GE(compared, 50u) << "installed fonts";
  EXPECT_GT(bold, 0u);
  EXPECT_GT(instances, 0u) << "a variable font with named instances";
}

class LoadedFaceFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kfp_loaded_face_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    directory_ = pattern;
  }
  void TearDown() override { fs::remove_all(directory_); }
  std::string write(const std::string& name, const std::string& bytes) {
    const fs::path path = directory_ / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }
  fs::path directory_;
};

// The font with the directory entry of `tag` renamed, so that the face lacks that table.
std::string withoutTable(std::string font, const char* tag) {
  const uint16_t tables = uint16_t(uint8_t(font[4]) << 8 | uint8_t(font[5]));
  for (size_t i = 0; i < tables; ++i) {
    if (font.compare(12 + 16 * i, 4, tag) == 0) font[12 + 16 * i] = 'x';
  }
  return font;
}

// The font as the only face of a collection: a collection header, then the font with its table
// offsets moved by the header's size.
std::string asCollection(const std::string& font) {
  std::string header("ttcf\0\1\0\0\0\0\0\1\0\0\0\x10", 16);
  std::string moved = font;
  const uint16_t tables = uint16_t(uint8_t(font[4]) << 8 | uint8_t(font[5]));
  for (size_t i = 0; i < tables; ++i) {
    const size_t at = 12 + 16 * i + 8;
    putBe32(moved, at, be32(moved, at) + 16);
  }
  return header + moved;
}

TEST_F(LoadedFaceFiles, OpensTheFacesFreeTypeOpensAndRefusesBrokenOnes) {
  KFP_REQUIRE_INSTALLED_FONT(fs::exists(kDejaVuSans), "DejaVu Sans");
  const std::string font = readFile(kDejaVuSans);
  struct Case {
    const char* name;
    std::string bytes;
    uint32_t faceIndex;
    uint32_t namedInstance;
    bool opens;
    bool sameAsFreeType;  // false where FreeType opens a face it cannot draw from
  };
  const Case cases[] = {
      {"the font", font, 0, 0, true, true},
      {"cut to 4096 bytes", font.substr(0, 4096), 0, 0, false, true},
      {"cut inside the table directory", font.substr(0, 40), 0, 0, false, true},
      {"face index beyond a single font", font, 1, 0, false, true},
      {"named instance of a static font", font, 0, 1, false, true},
      {"face 0 of a collection", asCollection(font), 0, 0, true, true},
      {"face 1 of a collection of one", asCollection(font), 1, 0, false, true},
      {"no horizontal header", withoutTable(font, "hhea"), 0, 0, false, true},
      {"no glyph locations", withoutTable(font, "loca"), 0, 0, false, true},
      {"no head table", withoutTable(font, "head"), 0, 0, false, true},
      {"no glyph outlines", withoutTable(font, "glyf"), 0, 0, false, false},
      {"not a font", std::string(4096, 'x'), 0, 0, false, true},
  };
  FT_Library library = nullptr;
  ASSERT_EQ(FT_Init_FreeType(&library), 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto store = FaceStore::create();
    ASSERT_NE(store, nullptr);
    FontRecord record;
    record.path = write(std::string(c.name) + ".ttf", c.bytes);
    record.faceIndex = c.faceIndex;
    record.namedInstance = c.namedInstance;
    std::shared_ptr<LoadedFace> face = store->face(record);
    EXPECT_EQ(face != nullptr, c.opens);
    if (face) {
      EXPECT_FALSE(face->hasFreeTypeFace());
      EXPECT_EQ(tableThroughHarfBuzz(*face, HB_TAG('c', 'm', 'a', 'p')).size(),
                tableThroughHarfBuzz(*store->face(FontRecord{.path = kDejaVuSans}),
                                     HB_TAG('c', 'm', 'a', 'p'))
                    .size());
    }
    FT_Face ft = nullptr;
    const bool freeTypeOpens =
        FT_New_Face(library, record.path.c_str(),
                    FT_Long(c.faceIndex) | FT_Long(c.namedInstance) << 16, &ft) == 0;
    if (ft) FT_Done_Face(ft);
    if (c.sameAsFreeType) {
      EXPECT_EQ(freeTypeOpens, c.opens);
    }
  }
  FT_Done_FreeType(library);
}

TEST(LoadedFace, MeasuringLeavesFreeTypeClosedUntilSomethingIsDrawn) {
  KFP_REQUIRE_INSTALLED_FONT(fs::exists(kDejaVuSans), "DejaVu Sans");
  fixture::LinuxTextFixture text;
  auto fonts = text.collection({{kDejaVuSans}});
  ASSERT_NE(fonts, nullptr);
  auto format = text.format(fonts, u"DejaVu Sans", 20);
  ASSERT_NE(format, nullptr);
  auto layout = text.layout(u"Hamburgefonstiv", *format, 400);
  ASSERT_NE(layout, nullptr);
  ASSERT_NE(layout->face, nullptr);
  EXPECT_FALSE(layout->face->hasFreeTypeFace());
  EXPECT_GT(layout->face->lineMetrics().ascent, 0);

  std::vector<uint8_t> pixels(400 * 40, 0);
  GlyphRasterizer rasterizer;
  drawLayout(*layout, 1.0f, rasterizer, {pixels.data(), 400, 40});
  EXPECT_TRUE(layout->face->hasFreeTypeFace());
  size_t ink = 0;
  for (uint8_t p : pixels) ink += p != 0;
  EXPECT_GT(ink, 100u);
}

}  // namespace
}  // namespace kfp::linux_backend
