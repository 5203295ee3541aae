// kfp-preview's pages: their names, a page written whole or not at all, and a collection cut into
// numbered pages by the tool itself.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "preview/contact_sheet.h"
#include "preview/options.h"

namespace kfp::preview {
namespace {

namespace fs = std::filesystem;

TEST(PagePath, NumbersPagesAfterTheFirstBeforeTheExtension) {
  const struct {
    const char* output;
    size_t page;
    const char* expected;
  } cases[] = {
      {"preview.png", 1, "preview.png"},
      {"preview.png", 2, "preview-2.png"},
      {"out/preview.png", 12, "out/preview-12.png"},
      {"preview", 3, "preview-3"},
      {"dir.d/preview", 2, "dir.d/preview-2"},  // a dot in a directory is no extension
      {".png", 2, ".png-2"},                    // nor is a leading dot
      {"a/.png", 2, "a/.png-2"},
      {"sheet.v2.png", 2, "sheet.v2-2.png"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output);
    EXPECT_EQ(pagePath(c.output, c.page), c.expected);
  }
}

class PagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("kfp-pages-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  static ContactSheet oneRowSheet() {
    client::RenderResult row;
    row.resolved = true;
    row.width = row.stride = 4;
    row.height = 2;
    row.pixels.assign(8, 255);
    ContactSheet sheet(1);
    sheet.addBitmap(row, 0);
    return sheet;
  }

  fs::path dir_;
};

TEST_F(PagesTest, APageIsWrittenWholeOrNotAtAll) {
  std::string error;
  const fs::path written = dir_ / "page.png";
  ASSERT_TRUE(oneRowSheet().writePng(written.string(), error)) << error;
  std::ifstream in(written, std::ios::binary);
  char signature[8] = {};
  in.read(signature, sizeof signature);
  EXPECT_EQ(std::string(signature, 8), std::string("\x89PNG\r\n\x1A\n", 8));
  EXPECT_FALSE(fs::exists(written.string() + ".partial"));

  // Where nothing can be written: a message, and neither the page nor its partial copy remains.
  for (const fs::path& bad : {dir_ / "missing" / "page.png", dir_ / "a-directory"}) {
    SCOPED_TRACE(bad.string());
    fs::create_directories(dir_ / "a-directory");
    error.clear();
    EXPECT_FALSE(oneRowSheet().writePng(bad.string(), error));
    EXPECT_NE(error.find(bad.string()), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(bad.string() + ".partial"));
  }
  EXPECT_TRUE(fs::is_directory(dir_ / "a-directory"));

  // Too tall for a PNG reader's default limit: refused before a file is opened.
  client::RenderResult tall;
  tall.resolved = true;
  tall.width = tall.stride = 1;
  tall.height = 1000001;
  tall.pixels.assign(tall.height, 255);
  ContactSheet sheet(0);
  sheet.addBitmap(tall, 0);
  const fs::path tallPath = dir_ / "tall.png";
  error.clear();
  EXPECT_FALSE(sheet.writePng(tallPath.string(), error));
  EXPECT_NE(error.find("--faces-per-page"), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(tallPath));
}

// The tool itself, on the installed fonts: seven faces at three a page are three pages.
TEST_F(PagesTest, TheToolWritesNumberedPages) {
  const fs::path output = dir_ / "sheet.png";
  const std::string command = std::string(KFP_PREVIEW_PATH) +
                              " --limit 7 --faces-per-page 3 --workers 1 " + output.string() +
                              " >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  for (const char* name : {"sheet.png", "sheet-2.png", "sheet-3.png"}) {
    EXPECT_GT(fs::file_size(dir_ / name), 100u) << name;
  }
  EXPECT_FALSE(fs::exists(dir_ / "sheet-4.png"));

  // An output that cannot be written: a non-zero exit and nothing left behind.
  const fs::path unwritable = dir_ / "missing" / "sheet.png";
  const std::string failing = std::string(KFP_PREVIEW_PATH) + " --limit 2 --workers 1 " +
                              unwritable.string() + " >/dev/null 2>&1";
  EXPECT_NE(std::system(failing.c_str()), 0);
  EXPECT_FALSE(fs::exists(unwritable.parent_path()));
}

}  // namespace
}  // namespace kfp::preview
