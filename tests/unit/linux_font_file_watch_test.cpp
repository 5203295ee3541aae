// The file watch decides when a mapped font file's identity is looked at again: every kind of
// change must raise an event that leads to the check, the check must see what changed, and a
// watch shared by two mappings of one inode must outlive either of them.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "platform/linux/files/mapped_font_file.h"

namespace kfp::linux_backend {
namespace {

namespace fs = std::filesystem;

constexpr char kDejaVuSans[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

timespec modifiedTime(const fs::path& file) {
  struct stat info {};
  stat(file.c_str(), &info);
  return info.st_mtim;
}

// Sets the access and modification times; UTIME_OMIT leaves one alone.
void setTimes(const fs::path& file, timespec accessed, timespec modified) {
  const timespec times[2] = {accessed, modified};
  ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
}

class FontFileWatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(kDejaVuSans)) << "test font not installed";
    const std::string stem = ::testing::TempDir() + "watched_" + std::to_string(getpid());
    file_ = stem + ".ttf";
    other_ = stem + "_other.ttf";
  }
  void TearDown() override {
    fs::remove(file_);
    fs::remove(other_);
  }
  fs::path file_, other_;
};

TEST_F(FontFileWatchTest, EveryChangeOfTheFileLeadsToTheIdentityCheck) {
  struct Case {
    const char* name;
    std::function<void(const fs::path& file, const fs::path& other)> change;
    bool changed;
  };
  const Case kCases[] = {
      {"access and modification times set together (an attribute event, no write)",
       [](const fs::path& file, const fs::path&) {
         const timespec later = {modifiedTime(file).tv_sec + 60, 0};
         setTimes(file, later, later);
       },
       true},
      {"modification time moved by one nanosecond",
       [](const fs::path& file, const fs::path&) {
         timespec t = modifiedTime(file);
         t.tv_nsec = t.tv_nsec == 999999999 ? t.tv_nsec - 1 : t.tv_nsec + 1;
         setTimes(file, {0, UTIME_OMIT}, t);
       },
       true},
      {"grown by a byte, modification time put back",
       [](const fs::path& file, const fs::path&) {
         const timespec before = modifiedTime(file);
         ASSERT_EQ(truncate(file.c_str(), fs::file_size(file) + 1), 0);
         setTimes(file, {0, UTIME_OMIT}, before);
       },
       true},
      {"only the access time set",
       [](const fs::path& file, const fs::path&) {
         setTimes(file, {0, UTIME_NOW}, {0, UTIME_OMIT});
       },
       false},
      {"another watched file written",
       [](const fs::path&, const fs::path& other) { ASSERT_EQ(truncate(other.c_str(), 100), 0); },
       false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    fs::copy_file(kDejaVuSans, file_, fs::copy_options::overwrite_existing);
    fs::copy_file(kDejaVuSans, other_, fs::copy_options::overwrite_existing);
    auto file = MappedFontFile::map(file_.string());
    auto other = MappedFontFile::map(other_.string());
    ASSERT_NE(file, nullptr);
    ASSERT_NE(other, nullptr);
    ASSERT_FALSE(file->changed());
    c.change(file_, other_);
    EXPECT_EQ(file->changed(), c.changed);
    // An event seen once is not lost: asking again gives the same answer.
    EXPECT_EQ(file->changed(), c.changed);
  }
}

TEST_F(FontFileWatchTest, TwoMappingsOfOneInodeShareAWatchThatOutlivesEither) {
  for (const bool dropFirst : {true, false}) {
    SCOPED_TRACE(dropFirst ? "the first mapping released" : "the second mapping released");
    fs::copy_file(kDejaVuSans, file_, fs::copy_options::overwrite_existing);
    auto first = MappedFontFile::map(file_.string());
    auto second = MappedFontFile::map(file_.string());
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    auto& kept = dropFirst ? second : first;
    (dropFirst ? first : second).reset();
    EXPECT_FALSE(kept->changed());

    const timespec later = {modifiedTime(file_).tv_sec + 60, 0};
    setTimes(file_, later, later);
    EXPECT_TRUE(kept->changed());
  }
}

}  // namespace
}  // namespace kfp::linux_backend
