#include "contact_sheet.h"

#include <png.h>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace kfp::preview {

void ContactSheet::addBitmap(const client::RenderResult& bitmap, uint32_t gapAbove) {
  height_ += gapAbove;
  rows_.emplace_back(height_, storage_.size());
  storage_.push_back(bitmap);
  height_ += bitmap.height;
  width_ = std::max(width_, bitmap.width);
}

bool ContactSheet::writePng(const std::string& path, std::string& error) const {
  const uint32_t pageWidth = std::max<uint32_t>(width_ + 2 * margin_, 1);
  const uint32_t pageHeight = height_ + 2 * margin_;
  std::vector<uint8_t> page(size_t(pageWidth) * pageHeight, 255);
  for (const auto& [top, index] : rows_) {
    const auto& bitmap = storage_[index];
    for (uint32_t y = 0; y < bitmap.height; ++y) {
      const uint8_t* source = bitmap.pixels.data() + size_t(y) * bitmap.stride;
      uint8_t* target = page.data() + size_t(margin_ + top + y) * pageWidth + margin_;
      for (uint32_t x = 0; x < bitmap.width; ++x) target[x] = uint8_t(255 - source[x]);
    }
  }

  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
  if (!file) {
    error = "cannot open " + path;
    return false;
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    error = "libpng initialisation failed";
    return false;
  }
  // libpng reports failures by longjmp; nothing with a destructor is created below this point.
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    error = "writing " + path + " failed";
    return false;
  }
  png_init_io(png, file.get());
  png_set_IHDR(png, info, pageWidth, pageHeight, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (uint32_t y = 0; y < pageHeight; ++y) png_write_row(png, page.data() + size_t(y) * pageWidth);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace kfp::preview
