// The face store: faces shared per file, face index and named instance; files mapped once; reads
// past the end of a file that shrank while mapped land on zero pages instead of killing the
// process; bitmap-only faces measured with their head table's units per em; the pool of open faces
// (budget, least recently used first, reopening to the same pixels, dropped whole); and what a
// resolved face gets after its file changed, pooled or released, watched or not.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <hb-ot.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <thread>

#include "linux_text_fixture.h"
#include "platform/linux/files/face_store.h"
#include "platform/linux/files/font_file_watch.h"
#include "platform/linux/raster/glyph_cache.h"
#include "platform/linux/raster/glyph_rasterizer.h"
#include "platform/linux/raster/graphics.h"
#include "support/installed_fonts.h"

namespace kfp::linux_backend {
namespace {

namespace fs = std::filesystem;

constexpr char kDejaVuSans[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr char kDejaVuSerif[] = "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf";
constexpr char kColorEmoji[] = "/usr/share/fonts/truetype/noto/NotoColorEmoji.ttf";
constexpr char kDejaVuSansBold[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
constexpr char kDejaVuSansMono[] = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf";

FontRecord recordOf(const char* path) {
  FontRecord record;
  record.path = path;
  return record;
}

TEST(FaceStore, SharesFacesAndMappingsWhileTheyAreHeld) {
  KFP_REQUIRE_INSTALLED_FONT(fs::exists(kDejaVuSans) && fs::exists(kDejaVuSerif),
                             "DejaVu Sans or Serif");
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

// The file's modification time, as `touch -r` takes it from a reference.
timespec modifiedTime(const fs::path& file) {
  struct stat info {};
  EXPECT_EQ(stat(file.c_str(), &info), 0);
  return info.st_mtim;
}

class MappedFontFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KFP_REQUIRE_INSTALLED_FONT(fs::exists(kDejaVuSans), kDejaVuSans);
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
      {"access and modification times set together (an attribute event only)",
       [](const fs::path& file) {
         const timespec later{modifiedTime(file).tv_sec + 7, 0};
         const timespec times[2] = {later, later};
         (void)utimensat(AT_FDCWD, file.c_str(), times, 0);
       },
       true},
      {"modification time one nanosecond later",
       [](const fs::path& file) {
         timespec later = modifiedTime(file);
         later.tv_nsec = (later.tv_nsec + 1) % 1000000000;
         const timespec times[2] = {{0, UTIME_OMIT}, later};
         (void)utimensat(AT_FDCWD, file.c_str(), times, 0);
       },
       true},
      {"grown by one byte",
       [](const fs::path& file) { fs::resize_file(file, fs::file_size(file) + 1); }, true},
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

TEST_F(MappedFontFileTest, TwoMappingsOfOneFileAreWatchedEachToTheEnd) {
  auto first = MappedFontFile::map(copy_.string());
  auto second = MappedFontFile::map(copy_.string());
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  first.reset();  // its watch goes, the other's stays
  std::ofstream(copy_, std::ios::binary | std::ios::app) << "tail";
  EXPECT_TRUE(second->changed());
}

TEST_F(MappedFontFileTest, AWriteDuringUseIsKnownWithoutAnIdentityCheck) {
  auto file = MappedFontFile::map(copy_.string());
  ASSERT_NE(file, nullptr);
  EXPECT_FALSE(file->knownChanged());
  std::ofstream(copy_, std::ios::binary | std::ios::app) << "tail";
  EXPECT_TRUE(file->knownChanged());
}

// The shaper's tables are copied when the face is opened: a file emptied afterwards leaves them
// as they were, whatever the shaper had read before.
TEST_F(MappedFontFileTest, TheShaperKeepsTheTablesOfTheFileAsOpened) {
  auto store = FaceStore::create();
  FontRecord record = recordOf(kDejaVuSans);
  auto reference = store->face(record);
  ASSERT_NE(reference, nullptr);
  hb_face_t* original = hb_font_get_face(reference->hbFont());
  const unsigned lookups = hb_ot_layout_table_get_lookup_count(original, HB_OT_TAG_GPOS);
  ASSERT_GT(lookups, 0u);
  hb_codepoint_t glyph = 0;
  ASSERT_TRUE(hb_font_get_nominal_glyph(reference->hbFont(), U'Ж', &glyph));

  auto face = store->face(recordOf(copy_.c_str()));
  ASSERT_NE(face, nullptr);
  ASSERT_EQ(truncate(copy_.c_str(), 0), 0);
  hb_face_t* copied = hb_font_get_face(face->hbFont());
  EXPECT_EQ(hb_ot_layout_table_get_lookup_count(copied, HB_OT_TAG_GPOS), lookups);
  EXPECT_EQ(hb_face_get_glyph_count(copied), hb_face_get_glyph_count(original));
  hb_codepoint_t copiedGlyph = 0;
  EXPECT_TRUE(hb_font_get_nominal_glyph(face->hbFont(), U'Ж', &copiedGlyph));
  EXPECT_EQ(copiedGlyph, glyph);
  EXPECT_GT(face->tableBytes(), 100000u);
  EXPECT_TRUE(face->fileChanged());
}

TEST(FaceStore, ChangedFilesAreMappedAnew) {
  KFP_REQUIRE_INSTALLED_FONT(fs::exists(kDejaVuSans), kDejaVuSans);
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
  KFP_REQUIRE_INSTALLED_FONT(fs::exists(kColorEmoji), kColorEmoji);
  auto store = FaceStore::create();
  auto emoji = store->face(recordOf(kColorEmoji));
  ASSERT_NE(emoji, nullptr);
  ASSERT_EQ(emoji->ftFace()->units_per_EM, 0);
  const FaceLineMetrics& metrics = emoji->glyphCache().lineMetrics();
  EXPECT_EQ(metrics.unitsPerEm, 2048);
  EXPECT_EQ(std::lround(metrics.lineHeight(28)), 33);
}

// What a face draws: glyph positions and the pixels of a Render at two scales.
struct Drawing {
  std::vector<PositionedGlyph> glyphs;
  std::vector<uint8_t> pixels;
  bool operator==(const Drawing& other) const {
    if (glyphs.size() != other.glyphs.size() || pixels != other.pixels) return false;
    for (size_t i = 0; i < glyphs.size(); ++i) {
      if (glyphs[i].id != other.glyphs[i].id || glyphs[i].x != other.glyphs[i].x ||
          glyphs[i].y != other.glyphs[i].y) {
        return false;
      }
    }
    return true;
  }
};

class FacePoolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* font : {kDejaVuSans, kDejaVuSerif, kDejaVuSansBold, kDejaVuSansMono}) {
      KFP_REQUIRE_INSTALLED_FONT(fs::exists(font), font);
    }
  }

  // Resolves the file as font lookup would (a one-face collection) and keeps only its handle.
  std::shared_ptr<FaceHandle> resolve(const char* path) { return store().handle(recordOf(path)); }

  // A resolved font: its collection, kept like a resolved-font entry keeps it, and family name.
  struct Resolved {
    std::shared_ptr<const LinuxFontCollection> fonts;
    std::u16string family;
  };
  Resolved resolveFont(const char* path) {
    Resolved resolved{fixture_->collection({{path}}), {}};
    if (resolved.fonts) resolved.fonts->familyNames(0)->getString(0, &resolved.family);
    return resolved;
  }

  // Lays out and draws through the text engine, which reopens a released face; nullopt when the
  // text format or layout cannot be made (the per-font error).
  std::optional<Drawing> draw(const Resolved& font, std::u16string_view text = u"Hamburgefonstiv") {
    if (!font.fonts) return std::nullopt;
    auto format = fixture_->format(font.fonts, font.family, 23);
    if (!format) return std::nullopt;
    auto layout = fixture_->layout(text, *format, 400);
    if (!layout) return std::nullopt;
    Drawing drawing{layout->glyphs, {}};
    for (float scale : {1.0f, 1.5f}) {
      std::vector<uint8_t> pixels(600 * 80);
      GlyphRasterizer rasterizer;
      drawLayout(*layout, scale, rasterizer, {pixels.data(), 600, 80});
      drawing.pixels.insert(drawing.pixels.end(), pixels.begin(), pixels.end());
    }
    return drawing;
  }
  std::optional<Drawing> draw(const char* path) { return draw(resolveFont(path)); }

  FaceStore& store() { return fixture_->faces(); }

  std::unique_ptr<fixture::LinuxTextFixture> fixture_ =
      std::make_unique<fixture::LinuxTextFixture>();
};

TEST_F(FacePoolTest, AReleasedFaceReopensToTheSameGlyphsAndPixels) {
  const Resolved sans = resolveFont(kDejaVuSans);
  const std::optional<Drawing> first = draw(sans);
  ASSERT_TRUE(first);
  EXPECT_GT(std::count_if(first->pixels.begin(), first->pixels.end(), [](uint8_t p) { return p; }),
            100);
  std::weak_ptr<LoadedFace> opened = store().face(recordOf(kDejaVuSans));
  ASSERT_FALSE(opened.expired());

  store().setBudget(1);  // only the face in use stays
  ASSERT_TRUE(draw(kDejaVuSerif));
  EXPECT_EQ(store().pooledFaces(), 1u);
  EXPECT_TRUE(opened.expired());

  const std::optional<Drawing> again = draw(sans);
  ASSERT_TRUE(again);
  EXPECT_TRUE(*again == *first);
  // And once more from the pool, with the glyph images and shaping it cached meanwhile.
  store().setBudget(FaceStore::kDefaultBudget);
  const std::optional<Drawing> cached = draw(sans);
  ASSERT_TRUE(cached);
  EXPECT_TRUE(*cached == *first);
  EXPECT_EQ(store().pooledFaces(), 1u);
}

TEST_F(FacePoolTest, TheLeastRecentlyUsedFaceGoesFirstWhenTheBudgetIsExceeded) {
  const char* const files[] = {kDejaVuSans, kDejaVuSerif, kDejaVuSansMono};
  std::vector<std::shared_ptr<FaceHandle>> handles;
  size_t total = 0;
  for (const char* file : files) {
    handles.push_back(resolve(file));
    ASSERT_NE(handles.back(), nullptr);
    total += store().open(*handles.back())->memoryBytes();
  }
  EXPECT_EQ(store().pooledBytes(), total);
  store().releasePool();
  EXPECT_EQ(store().pooledFaces(), 0u);
  EXPECT_EQ(store().pooledBytes(), 0u);

  // Room for all three but one byte: the third opening releases the least recent one.
  store().setBudget(total - 1);
  std::weak_ptr<LoadedFace> sans = store().open(*handles[0]);
  std::weak_ptr<LoadedFace> serif = store().open(*handles[1]);
  ASSERT_NE(store().open(*handles[0]), nullptr);  // sans is the most recent again
  std::weak_ptr<LoadedFace> mono = store().open(*handles[2]);
  EXPECT_FALSE(sans.expired());
  EXPECT_TRUE(serif.expired());
  EXPECT_FALSE(mono.expired());
  EXPECT_EQ(store().pooledFaces(), 2u);
  EXPECT_LE(store().pooledBytes(), store().budget());
}

TEST_F(FacePoolTest, FacesStaySharedAndLiveOnWithTheirUsersWhenReleased) {
  FontRecord bold = recordOf(kDejaVuSans);
  bold.weight = 700;  // the same file, face index and instance: the same face
  auto handle = resolve(kDejaVuSans);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(store().handle(bold), handle);
  std::shared_ptr<LoadedFace> held = store().open(*handle);
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(store().face(bold), held);

  // Dropped whole while pooled (ClearCache, a new font set, the memory guard): a face in use is
  // still the one handed out, and a released one is reopened.
  ASSERT_TRUE(resolve(kDejaVuSerif));
  std::weak_ptr<LoadedFace> serif = store().face(recordOf(kDejaVuSerif));
  store().releasePool();
  EXPECT_EQ(store().pooledFaces(), 0u);
  EXPECT_TRUE(serif.expired());
  EXPECT_EQ(store().open(*handle), held);
  EXPECT_EQ(store().pooledFaces(), 1u);
  held.reset();
  store().releasePool();
  EXPECT_EQ(store().rememberedFaces(), 0u);
  EXPECT_NE(store().open(*handle), nullptr);
}

void overwriteInPlace(const fs::path& target, const char* source) {
  std::ifstream in(source, std::ios::binary);
  std::ofstream out(target, std::ios::binary | std::ios::in | std::ios::out | std::ios::trunc);
  out << in.rdbuf();
}

// Rewrites bytes in the middle of the file without changing its size, then puts its modification
// time back (`touch -r` of a saved copy).
void rewriteSameSize(const fs::path& file) {
  const timespec before = modifiedTime(file);
  const int fd = open(file.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  const std::string junk(4096, '\x5A');
  ASSERT_EQ(pwrite(fd, junk.data(), junk.size(), off_t(fs::file_size(file) / 2)),
            ssize_t(junk.size()));
  close(fd);
  const timespec times[2] = {before, before};
  ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
  ASSERT_EQ(modifiedTime(file).tv_nsec, before.tv_nsec);
}

class ChangedFaceTest : public FacePoolTest {
 protected:
  void SetUp() override {
    FacePoolTest::SetUp();
    if (IsSkipped()) return;
    directory_ = fs::path(::testing::TempDir()) / ("changed_face_" + std::to_string(getpid()));
    fs::create_directories(directory_);
  }
  void TearDown() override {
    font_file_watch::setWatching(true);
    if (!directory_.empty()) fs::remove_all(directory_);
  }
  fs::path directory_;
};

TEST_F(ChangedFaceTest, AResolvedFaceDrawsAsBeforeOrFailsNeverFromChangedBytes) {
  enum Outcome { kOldPicture, kError };
  struct Case {
    const char* name;
    std::function<void(const fs::path&)> change;
    Outcome pooledWatched;
    Outcome pooledUnwatched;  // without the watch, a vanished path cannot be told from a write
  };
  const fs::path staged = directory_ / "staged.ttf";
  const Case kCases[] = {
      {"cp of another font over it",
       [](const fs::path& f) { overwriteInPlace(f, kDejaVuSansBold); }, kError, kError},
      {"truncated", [](const fs::path& f) { ASSERT_EQ(truncate(f.c_str(), 4096), 0); }, kError,
       kError},
      {"appended to",
       [](const fs::path& f) { std::ofstream(f, std::ios::binary | std::ios::app) << "tail"; },
       kError, kError},
      {"same-size rewrite, modification time put back", rewriteSameSize, kError, kError},
      {"written, then deleted",
       [](const fs::path& f) {
         overwriteInPlace(f, kDejaVuSansBold);
         fs::remove(f);
       },
       kError, kError},
      {"another font renamed over it",
       [&](const fs::path& f) {
         fs::copy_file(kDejaVuSansBold, staged, fs::copy_options::overwrite_existing);
         fs::rename(staged, f);
       },
       kOldPicture, kError},
  };
  for (bool watched : {true, false}) {
    for (bool released : {false, true}) {
      for (const Case& c : kCases) {
        SCOPED_TRACE(std::string(c.name) + (watched ? ", watched" : ", unwatched") +
                     (released ? ", face released first" : ", face pooled"));
        font_file_watch::setWatching(watched);
        const fs::path file = directory_ / "font.ttf";
        fs::remove(file);
        fs::copy_file(kDejaVuSans, file);
        fixture_ = std::make_unique<fixture::LinuxTextFixture>();
        const Resolved font = resolveFont(file.c_str());
        const std::optional<Drawing> before = draw(font);
        ASSERT_TRUE(before);
        // Timestamps move in clock ticks: a change in the same tick as the copy would keep them.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (released) store().releasePool();
        c.change(file);

        const Outcome expected = released ? kError : watched ? c.pooledWatched : c.pooledUnwatched;
        const std::optional<Drawing> after = draw(font);
        EXPECT_EQ(after.has_value(), expected == kOldPicture);
        if (after) {
          EXPECT_TRUE(*after == *before);
        }
        // A new text gets the same answer: no glyphs are read from the changed file.
        EXPECT_EQ(draw(font, u"new text 0123").has_value(), expected == kOldPicture);
        store().releasePool();
      }
    }
  }
}

}  // namespace
}  // namespace kfp::linux_backend
