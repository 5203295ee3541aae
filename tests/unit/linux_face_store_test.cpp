// The face store: faces shared per file, face index and named instance; files mapped once; reads
// past the end of a file that shrank while mapped land on zero pages instead of killing the
// process; bitmap-only faces measured with their head table's units per em.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>

#include "platform/linux/files/face_store.h"
#include "platform/linux/raster/glyph_cache.h"

namespace kfp::linux_backend {
namespace {

namespace fs = std::filesystem;

constexpr char kDejaVuSans[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr char kDejaVuSerif[] = "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf";
constexpr char kColorEmoji[] = "/usr/share/fonts/truetype/noto/NotoColorEmoji.ttf";

FontRecord recordOf(const char* path) {
  FontRecord record;
  record.path = path;
  return record;
}

TEST(FaceStore, SharesFacesAndMappingsWhileTheyAreHeld) {
  if (!fs::exists(kDejaVuSans) || !fs::exists(kDejaVuSerif)) GTEST_SKIP() << "fonts missing";
  auto store = FaceStore::create();
  ASSERT_NE(store, nullptr);
  FontRecord bold = recordOf(kDejaVuSans);
  bold.weight = 700;  // how the face was asked for does not make it another face

  auto sans = store->face(recordOf(kDejaVuSans));
  ASSERT_NE(sans, nullptr);
  EXPECT_EQ(store->face(bold), sans);
  EXPECT_EQ(&store->face(bold)->glyphCache(), &sans->glyphCache());
  auto serif = store->face(recordOf(kDejaVuSerif));
  ASSERT_NE(serif, nullptr);
  EXPECT_NE(serif, sans);
  EXPECT_EQ(store->file(kDejaVuSans), store->file(kDejaVuSans));
  EXPECT_NE(store->file(kDejaVuSans), store->file(kDejaVuSerif));

  EXPECT_EQ(store->face(recordOf("/nonexistent/font.ttf")), nullptr);
  sans.reset();
  serif.reset();
  store->forgetReleased();
  EXPECT_EQ(store->rememberedFaces(), 2u);  // pooled
  store->releasePool();
  EXPECT_EQ(store->rememberedFaces(), 0u);
}

TEST(FaceStore, OpensABoundedNumberOfFacesPerFreeTypeLibrary) {
  auto store = FaceStore::create();
  ASSERT_NE(store, nullptr);
  auto first = store->library();
  for (uint32_t i = 1; i < FaceStore::kFacesPerLibrary; ++i) EXPECT_EQ(store->library(), first);
  auto next = store->library();
  ASSERT_NE(next, nullptr);
  EXPECT_NE(next, first);
}

class MappedFontFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kDejaVuSans)) GTEST_SKIP() << "fonts missing";
    copy_ = fs::path(::testing::TempDir()) / ("mapped_" + std::to_string(getpid()) + ".ttf");
    fs::copy_file(kDejaVuSans, copy_, fs::copy_options::overwrite_existing);
  }
  void TearDown() override { fs::remove(copy_); }
  fs::path copy_;
};

TEST_F(MappedFontFileTest, AFileThatShrinksReadsAsZerosAndCountsAsChanged) {
  auto file = MappedFontFile::map(copy_.string());
  ASSERT_NE(file, nullptr);
  const volatile char* data = file->data();
  const size_t last = file->size() - 1;
  EXPECT_EQ(data[1], 1);  // sfnt version 0x00010000
  EXPECT_FALSE(file->changed());

  ASSERT_EQ(truncate(copy_.c_str(), 4096), 0);
  EXPECT_EQ(data[last], 0);  // past the new end: SIGBUS without the guard
  EXPECT_EQ(data[1], 0);     // the whole mapping reads as zeros now
  EXPECT_TRUE(file->knownChanged());
  EXPECT_TRUE(file->changed());
}

TEST_F(MappedFontFileTest, OnlyAChangeOfTheMappedFileCounts) {
  struct Case {
    const char* name;
    void (*change)(const fs::path&);
    bool changed;
  };
  const Case kCases[] = {
      {"untouched", [](const fs::path&) {}, false},
      {"rewritten in place, same size",
       [](const fs::path& file) {
         fs::last_write_time(file, fs::last_write_time(file) + std::chrono::seconds(5));
       },
       true},
      {"truncated", [](const fs::path& file) { (void)truncate(file.c_str(), 100); }, true},
      {"replaced by rename",
       [](const fs::path& file) {
         const fs::path staged = file.string() + ".new";
         fs::copy_file(kDejaVuSans, staged, fs::copy_options::overwrite_existing);
         fs::rename(staged, file);
       },
       false},
      {"removed", [](const fs::path& file) { fs::remove(file); }, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    fs::copy_file(kDejaVuSans, copy_, fs::copy_options::overwrite_existing);
    auto file = MappedFontFile::map(copy_.string());
    ASSERT_NE(file, nullptr);
    c.change(copy_);
    EXPECT_EQ(file->changed(), c.changed);
  }
}

TEST(FaceStore, ChangedFilesAreMappedAnew) {
  if (!fs::exists(kDejaVuSans)) GTEST_SKIP() << "fonts missing";
  const fs::path copy =
      fs::path(::testing::TempDir()) / ("store_" + std::to_string(getpid()) + ".ttf");
  fs::copy_file(kDejaVuSans, copy, fs::copy_options::overwrite_existing);
  auto store = FaceStore::create();
  auto before = store->face(recordOf(copy.c_str()));
  ASSERT_NE(before, nullptr);
  fs::last_write_time(copy, fs::last_write_time(copy) + std::chrono::seconds(5));
  EXPECT_TRUE(before->fileChanged());
  auto after = store->face(recordOf(copy.c_str()));
  ASSERT_NE(after, nullptr);
  EXPECT_NE(after, before);
  EXPECT_FALSE(after->fileChanged());
  fs::remove(copy);
}

// FreeType reports 0 units per em for a CBDT-only face; the head table says 2048.
TEST(FaceStore, BitmapOnlyFacesTakeTheirUnitsPerEmFromTheHeadTable) {
  if (!fs::exists(kColorEmoji)) GTEST_SKIP() << "fonts missing";
  auto store = FaceStore::create();
  auto emoji = store->face(recordOf(kColorEmoji));
  ASSERT_NE(emoji, nullptr);
  ASSERT_EQ(emoji->ftFace()->units_per_EM, 0);
  const FaceLineMetrics& metrics = emoji->glyphCache().lineMetrics();
  EXPECT_EQ(metrics.unitsPerEm, 2048);
  EXPECT_EQ(std::lround(metrics.lineHeight(28)), 33);
}

}  // namespace
}  // namespace kfp::linux_backend
