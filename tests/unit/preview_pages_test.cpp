// kfp-preview's pages: their names, a page written whole or not at all, and a collection cut into
// numbered pages by the tool itself.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "png_decoder.h"
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

// The page as the tool writes it, a block of rows at a time, against the same page painted whole:
// white margins and gaps, each bitmap's coverage as ink, bitmaps that straddle row blocks.
TEST_F(PagesTest, APageHoldsEveryBitmapAsInkOnWhite) {
  struct Placed {
    uint32_t width, height, stride, gapAbove;
  };
  const uint32_t margin = 2;
  const Placed placed[] = {{3, 70, 4, 0}, {9, 1, 9, 5}, {1, 130, 1, 0}, {6, 2, 8, 60}};
  ContactSheet sheet(margin);
  uint32_t pageWidth = 0, pageHeight = 0;
  std::vector<std::pair<uint32_t, client::RenderResult>> painted;
  for (const Placed& p : placed) {
    client::RenderResult bitmap;
    bitmap.resolved = true;
    bitmap.width = p.width;
    bitmap.height = p.height;
    bitmap.stride = p.stride;
    bitmap.pixels.resize(size_t(p.stride) * p.height);
    for (size_t i = 0; i < bitmap.pixels.size(); ++i) bitmap.pixels[i] = uint8_t(i * 37 + p.width);
    sheet.addBitmap(bitmap, p.gapAbove);
    pageHeight += p.gapAbove;
    painted.emplace_back(pageHeight, bitmap);
    pageHeight += p.height;
    pageWidth = std::max(pageWidth, p.width);
  }
  pageWidth += 2 * margin;
  pageHeight += 2 * margin;
  std::vector<uint8_t> expected(size_t(pageWidth) * pageHeight, 255);
  for (const auto& [top, bitmap] : painted) {
    for (uint32_t y = 0; y < bitmap.height; ++y)
      for (uint32_t x = 0; x < bitmap.width; ++x)
        expected[size_t(margin + top + y) * pageWidth + margin + x] =
            uint8_t(255 - bitmap.pixels[size_t(y) * bitmap.stride + x]);
  }

  const fs::path path = dir_ / "page.png";
  std::string error;
  ASSERT_TRUE(sheet.writePng(path.string(), error)) << error;
  testing::DecodedPng png;
  std::string why;
  ASSERT_TRUE(testing::decodeGrayPng(testing::readFileBytes(path.string()), png, why)) << why;
  EXPECT_EQ(png.width, pageWidth);
  EXPECT_EQ(png.height, pageHeight);
  EXPECT_TRUE(png.pixels == expected);

  // Written again over the first: the page is replaced, not refused.
  ASSERT_TRUE(oneRowSheet().writePng(path.string(), error)) << error;
  ASSERT_TRUE(testing::decodeGrayPng(testing::readFileBytes(path.string()), png, why)) << why;
  EXPECT_EQ(png.width, 6u);
  EXPECT_EQ(png.height, 4u);
  EXPECT_EQ(png.pixels[0], 255);
  EXPECT_EQ(png.pixels[1 * 6 + 1], 0);
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
