// Bitmap faces on the GDI-style path: characters found through the font's own 8-bit charmap, and
// strikes enlarged by whole factors when none fits the requested height.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/linux/files/loaded_face.h"
#include "platform/linux/files/mapped_font_file.h"
#include "platform/linux/gdi/gdi_sized_face.h"

namespace kfp::linux_backend {
namespace {

constexpr uint8_t kFirstChar = 0x20, kLastChar = 0x7E;
constexpr int kStrikeHeight = 8;
constexpr int kAscent = 6;

// Every character of the test font has its own width, so a lookup that lands on the wrong glyph
// shows in the advances.
int widthOf(uint8_t c) {
  return 1 + c % 7;
}

void put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}
void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  put16(b, at, v & 0xFFFF);
  put16(b, at + 2, v >> 16);
}

// A raw Windows 3.0 raster font (FNT version 3) with one 8-pixel strike, ANSI charset.
std::vector<uint8_t> rasterFont() {
  constexpr size_t kHeader = 148, kEntry = 6;
  const size_t entries = size_t(kLastChar - kFirstChar) + 2;  // plus the sentinel
  const size_t tableEnd = kHeader + entries * kEntry;
  const char kName[] = "Kfp Raster";
  const size_t nameAt = tableEnd;
  const size_t bitsAt = nameAt + sizeof kName;
  std::vector<uint8_t> font(bitsAt + entries * kStrikeHeight, 0);
  put16(font, 0, 0x300);                  // version
  put32(font, 2, uint32_t(font.size()));  // file size
  put16(font, 66, 0);                     // raster
  put16(font, 68, 6);                     // 6 points at 96 dpi: 8 pixels
  put16(font, 70, 96);
  put16(font, 72, 96);
  put16(font, 74, kAscent);
  put16(font, 83, 400);  // weight
  font[85] = 0;          // ANSI charset
  put16(font, 86, 0);    // proportional
  put16(font, 88, kStrikeHeight);
  font[90] = 0x20;  // variable pitch, swiss
  put16(font, 91, 4);
  put16(font, 93, 7);
  font[95] = kFirstChar;
  font[96] = kLastChar;
  font[97] = '?' - kFirstChar;  // default character
  font[98] = ' ' - kFirstChar;  // break character
  put16(font, 99, 2 * uint32_t(entries));
  put32(font, 105, uint32_t(nameAt));
  put32(font, 113, uint32_t(bitsAt));
  put32(font, 118, 0x12);  // proportional, one colour
  std::copy(std::begin(kName), std::end(kName), font.begin() + ptrdiff_t(nameAt));
  for (size_t i = 0; i < entries; ++i) {
    const uint8_t c = uint8_t(kFirstChar + i);
    const size_t bits = bitsAt + i * kStrikeHeight;
    put16(font, kHeader + i * kEntry, uint32_t(widthOf(c)));
    put32(font, kHeader + i * kEntry + 2, uint32_t(bits));
    for (int row = 0; row < kStrikeHeight; ++row) {
      font[bits + size_t(row)] = uint8_t(0xFF << (8 - widthOf(c)));  // a solid box
    }
  }
  return font;
}

class RasterFontFile : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = (std::filesystem::temp_directory_path() /
             ("kfp-raster-" + std::to_string(::getpid()) + ".fnt"))
                .string();
    const std::vector<uint8_t> bytes = rasterFont();
    FILE* out = std::fopen(path_.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), out), bytes.size());
    std::fclose(out);
    library_ = FreeTypeLibrary::create();
    ASSERT_NE(library_, nullptr);
  }
  void TearDown() override { std::filesystem::remove(path_); }

  std::shared_ptr<GdiSizedFace> open(int32_t height) {
    FontRecord record;
    record.path = path_;
    record.scalable = false;
    GdiFontRequest request;
    request.height = height;
    request.weight = 400;
    return GdiSizedFace::open(library_, MappedFontFile::map(path_), record, request);
  }

  std::string path_;
  std::shared_ptr<FreeTypeLibrary> library_;
};

TEST_F(RasterFontFile, CharactersFindTheirOwnGlyphs) {
  std::shared_ptr<GdiSizedFace> face = open(-kStrikeHeight);
  ASSERT_NE(face, nullptr);
  struct Case {
    std::u16string text;
    int64_t extent;
  };
  const Case cases[] = {
      {u"A", widthOf('A')},
      {u"B", widthOf('B')},
      {u"ABC", widthOf('A') + widthOf('B') + widthOf('C')},
      {u"~", widthOf('~')},
      {u" ", widthOf(' ')},
      // Outside the charmap: the default character.
      {u"\u4E00", widthOf('?')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text.begin(), c.text.end()));
    EXPECT_EQ(face->extent(c.text), c.extent);
  }
}

TEST_F(RasterFontFile, StrikesScaleByWholeFactors) {
  struct Case {
    int32_t height;  // negative: character height; positive: cell height
    int factor;
  };
  const Case cases[] = {
      {-8, 1},  {-15, 1}, {-16, 2}, {-23, 2}, {-24, 3},
      {-48, 6}, {8, 1},   {17, 2},  {-4, 1},  // below the only strike: unscaled
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.height);
    std::shared_ptr<GdiSizedFace> face = open(c.height);
    ASSERT_NE(face, nullptr);
    EXPECT_EQ(face->metrics().height, kStrikeHeight * c.factor);
    EXPECT_EQ(face->ascent(), kAscent * c.factor);
    EXPECT_EQ(face->extent(u"AB"), (widthOf('A') + widthOf('B')) * c.factor);

    // The drawn boxes are enlarged too: the ink covers the scaled cell of each glyph.
    const uint32_t width = 64 * 6, height = 8 * 6;
    std::vector<uint8_t> pixels(size_t(width) * height * 4, 0xFF);
    face->draw(u"A", 0, 0, 0, BgrxSurface{pixels.data(), width, height});
    int inked = 0;
    for (size_t i = 0; i < pixels.size(); i += 4) inked += pixels[i] == 0 ? 1 : 0;
    EXPECT_EQ(inked, widthOf('A') * kStrikeHeight * c.factor * c.factor);
  }
}

}  // namespace
}  // namespace kfp::linux_backend
