// Reading installed faces' name tables with pread: the bytes found for each container shape, and
// the names added to records, which must be those HarfBuzz reads from the whole file.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/linux/c_handles.h"
#include "platform/linux/fonts/face_name_reader.h"
#include "platform/linux/fonts/font_index_names.h"

namespace kfp::linux_backend {
namespace {

namespace fs = std::filesystem;

void putU16(std::string& b, uint32_t v) {
  b += char(v >> 8 & 0xFF);
  b += char(v & 0xFF);
}
void putU32(std::string& b, uint32_t v) {
  putU16(b, v >> 16);
  putU16(b, v & 0xFFFF);
}

// A name table with one Windows English record of ID 1.
std::string nameTable(const std::string& family) {
  std::string table;
  putU16(table, 0);
  putU16(table, 1);
  putU16(table, 6 + 12);
  for (uint32_t v : {3u, 1u, 0x409u, 1u, uint32_t(family.size() * 2), 0u}) putU16(table, v);
  for (char c : family) putU16(table, uint8_t(c));
  return table;
}

// An sfnt at `base` of a file: its header and directory, then its tables in the given order.
std::string sfnt(uint32_t base, const std::vector<std::pair<std::string, std::string>>& tables) {
  std::string header, data;
  putU32(header, 0x00010000);
  putU16(header, uint32_t(tables.size()));
  putU16(header, 0), putU16(header, 0), putU16(header, 0);
  uint32_t at = base + 12 + 16 * uint32_t(tables.size());
  for (const auto& [tag, bytes] : tables) {
    header += tag;
    putU32(header, 0);
    putU32(header, at + uint32_t(data.size()));
    putU32(header, uint32_t(bytes.size()));
    data += bytes;
  }
  return header + data;
}

// A collection of one-table faces, each naming its family.
std::string collection(const std::vector<std::string>& families) {
  const uint32_t headerSize = 12 + 4 * uint32_t(families.size());
  std::string header = "ttcf", faces;
  putU32(header, 0x00010000);
  putU32(header, uint32_t(families.size()));
  for (const std::string& family : families) {
    const uint32_t base = headerSize + uint32_t(faces.size());
    putU32(header, base);
    faces += sfnt(base, {{"name", nameTable(family)}});
  }
  return header + faces;
}

class NameReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kfp_names_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    directory_ = pattern;
  }
  void TearDown() override { fs::remove_all(directory_); }
  fs::path write(const std::string& name, const std::string& bytes) {
    const fs::path path = directory_ / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  fs::path directory_;
};

std::string familyOf(const std::string& table) {
  HbFacePtr face(createNameOnlyFace(table));
  const std::vector<LocalizedName> names = readNameTable(face.get(), HB_OT_NAME_ID_FONT_FAMILY);
  return names.empty() ? "" : std::string(names[0].text.begin(), names[0].text.end());
}

TEST_F(NameReaderTest, FindsTheNameTableOfEachContainerShape) {
  const std::string single = sfnt(0, {{"cmap", std::string(10, 'x')}, {"name", nameTable("One")}});
  const std::string pair = collection({"First", "Second"});
  struct Case {
    const char* name;
    std::string bytes;
    uint32_t faceIndex;
    NameTableBytes outcome;
    const char* family;
  };
  const Case cases[] = {
      {"single face", single, 0, NameTableBytes::kRead, "One"},
      {"single face, index beyond it", single, 1, NameTableBytes::kAbsent, ""},
      {"collection, first face", pair, 0, NameTableBytes::kRead, "First"},
      {"collection, second face", pair, 1, NameTableBytes::kRead, "Second"},
      {"collection, index beyond it", pair, 2, NameTableBytes::kAbsent, ""},
      {"no name table", sfnt(0, {{"cmap", std::string(10, 'x')}}), 0, NameTableBytes::kAbsent, ""},
      {"name table cut short", single.substr(0, single.size() - 4), 0, NameTableBytes::kAbsent, ""},
      {"directory cut short", single.substr(0, 20), 0, NameTableBytes::kAbsent, ""},
      {"collection offset past the end", pair.substr(0, 24), 1, NameTableBytes::kAbsent, ""},
      {"another container", "wOFF" + single.substr(4), 0, NameTableBytes::kNotSfnt, ""},
      {"shorter than a header", "OTTO", 0, NameTableBytes::kNotSfnt, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path path = write("font.ttf", c.bytes);
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::string table;
    EXPECT_EQ(readNameTableBytes(fd, c.faceIndex, table), c.outcome);
    close(fd);
    if (c.outcome == NameTableBytes::kRead) {
      EXPECT_EQ(familyOf(table), c.family);
    }
  }
}

// Every installed face gets the same names as when HarfBuzz reads the whole file, whatever the
// number of threads; records of one face share one reading.
TEST_F(NameReaderTest, InstalledFacesGetTheNamesHarfBuzzReadsFromTheWholeFile) {
  std::vector<FontRecord> records;
  for (const char* folder : {"/usr/share/fonts/truetype/dejavu", "/usr/share/fonts/truetype/noto",
                             "/usr/share/fonts/opentype"}) {
    if (!fs::is_directory(folder)) continue;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
      if (!entry.is_regular_file() || records.size() >= 300) continue;
      FontRecord record;
      record.path = entry.path();
      records.push_back(record);
      records.push_back(record);  // a second record of the same face, as named instances are
    }
  }
  ASSERT_GE(records.size(), 20u) << "installed fonts";
  records.push_back({.path = write("gone.ttf", "").string() + ".missing"});
  records.push_back({.path = write("pair.ttc", collection({"First", "Second"})).string()});
  records.push_back(records.back());
  records.back().faceIndex = 1;

  std::vector<FontRecord> expected = records;
  for (FontRecord& record : expected) {
    HbBlobPtr blob(hb_blob_create_from_file_or_fail(record.path.c_str()));
    if (!blob) continue;
    HbFacePtr face(hb_face_create(blob.get(), record.faceIndex));
    addNameTableNames(face.get(), record);
  }
  for (unsigned threads : {1u, 3u}) {
    SCOPED_TRACE(threads);
    std::vector<FontRecord> read = records;
    addOwnNames(read, threads);
    size_t named = 0;
    for (size_t i = 0; i < read.size(); ++i) {
      SCOPED_TRACE(read[i].path);
      const auto texts = [](const std::vector<LocalizedName>& names) {
        std::vector<std::pair<std::u16string, std::u16string>> out;
        for (const LocalizedName& n : names) out.push_back({n.locale, n.text});
        return out;
      };
      EXPECT_EQ(texts(read[i].win32FamilyNames), texts(expected[i].win32FamilyNames));
      EXPECT_EQ(texts(read[i].typographicFamilyNames), texts(expected[i].typographicFamilyNames));
      EXPECT_EQ(texts(read[i].wwsFamilyNames), texts(expected[i].wwsFamilyNames));
      EXPECT_EQ(texts(read[i].fullNames), texts(expected[i].fullNames));
      named += !read[i].win32FamilyNames.empty();
    }
    EXPECT_GE(named, read.size() - 1);  // all but the missing file
  }
}

}  // namespace
}  // namespace kfp::linux_backend
