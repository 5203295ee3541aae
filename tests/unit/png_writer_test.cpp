// The preview tool's PNG writer, read back by a strict decoder: sizes from one pixel up, widths
// that are multiples of nothing, images of many row blocks and many IDAT chunks.

#include "preview/png_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>

#include "png_decoder.h"

namespace kfp::preview {
namespace {

namespace fs = std::filesystem;

// A pixel that differs with both coordinates, so that swapped, shifted or repeated rows show.
uint8_t patternAt(uint32_t x, uint32_t y) {
  return uint8_t(x * 7 + y * 13 + (x ^ y));
}

std::vector<uint8_t> noise(uint32_t width, uint32_t height) {
  std::mt19937 random(width * 31 + height);
  std::vector<uint8_t> pixels(size_t(width) * height);
  for (auto& p : pixels) p = uint8_t(random());
  return pixels;
}

class PngWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ =
        (fs::temp_directory_path() /
         ("kfp-png-" +
          std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".png"))
            .string();
  }
  void TearDown() override { fs::remove(path_); }

  // Writes through the row source, counting the rows asked for; the decoded file in `png`.
  void writeAndDecode(uint32_t width, uint32_t height, const std::vector<uint8_t>& pixels,
                      testing::DecodedPng& png) {
    std::vector<uint32_t> asked(height, 0);
    std::FILE* file = std::fopen(path_.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    const bool written =
        writeGrayPng(file, width, height, [&](uint32_t first, uint32_t count, uint8_t* rows) {
          ASSERT_LE(count, kPngRowsPerBlock);
          ASSERT_LE(first + count, height);
          for (uint32_t y = first; y < first + count; ++y) ++asked[y];
          std::copy_n(pixels.data() + size_t(first) * width, size_t(count) * width, rows);
        });
    ASSERT_EQ(std::fclose(file), 0);
    ASSERT_TRUE(written);
    for (uint32_t y = 0; y < height; ++y) ASSERT_EQ(asked[y], 1u) << "row " << y;
    std::string why;
    ASSERT_TRUE(testing::decodeGrayPng(testing::readFileBytes(path_), png, why)) << why;
  }

  std::string path_;
};

TEST_F(PngWriterTest, WhatIsWrittenDecodesToTheSamePixels) {
  const struct {
    uint32_t width, height;
    bool noisy;  // incompressible, so the data spans several IDAT chunks
    size_t minChunks;
  } cases[] = {
      {1, 1, false, 1},
      {1, 1, true, 1},
      {3, 2, false, 1},
      {1, 300, false, 1},                    // one column, several row blocks
      {641, kPngRowsPerBlock, false, 1},     // exactly one block
      {97, kPngRowsPerBlock + 1, false, 1},  // one row into the second block
      {1001, 3 * kPngRowsPerBlock + 7, false, 1},
      {509, 389, true, 3},  // ~198 KB of noise: several chunks
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) +
                 (c.noisy ? " noise" : ""));
    std::vector<uint8_t> pixels =
        c.noisy ? noise(c.width, c.height) : std::vector<uint8_t>(size_t(c.width) * c.height);
    if (!c.noisy) {
      for (uint32_t y = 0; y < c.height; ++y)
        for (uint32_t x = 0; x < c.width; ++x) pixels[size_t(y) * c.width + x] = patternAt(x, y);
    }
    testing::DecodedPng png;
    writeAndDecode(c.width, c.height, pixels, png);
    if (HasFatalFailure()) return;
    EXPECT_EQ(png.width, c.width);
    EXPECT_EQ(png.height, c.height);
    EXPECT_GE(png.idatChunks, c.minChunks);
    EXPECT_TRUE(png.pixels == pixels);
  }
}

TEST_F(PngWriterTest, SizesOutsideWhatReadersTakeAreRefusedBeforeAnyByte) {
  const struct {
    uint32_t width, height;
  } cases[] = {{0, 1}, {1, 0}, {kPngMaxSide + 1, 1}, {1, kPngMaxSide + 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    std::FILE* file = std::fopen(path_.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    bool asked = false;
    errno = 0;
    EXPECT_FALSE(
        writeGrayPng(file, c.width, c.height, [&](uint32_t, uint32_t, uint8_t*) { asked = true; }));
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(std::ftell(file), 0);
    std::fclose(file);
    EXPECT_FALSE(asked);
  }
}

// A file that refuses writes: the failure is reported, not a success over a short file.
TEST_F(PngWriterTest, AFailedWriteIsReported) {
  std::FILE* file = std::fopen(path_.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fclose(file);
  file = std::fopen(path_.c_str(), "rb");
  ASSERT_NE(file, nullptr);
  EXPECT_FALSE(writeGrayPng(file, 4, 4, [](uint32_t, uint32_t count, uint8_t* rows) {
    std::fill_n(rows, 4 * count, uint8_t(0));
  }));
  std::fclose(file);
}

}  // namespace
}  // namespace kfp::preview
