#include "contact_sheet.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kfp::preview {
namespace {

// False when any step fails, errno telling why where the C library set it.
bool writeGrayPng(const std::string& path, const uint8_t* pixels, uint32_t width, uint32_t height) {
  errno = 0;
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  // libpng reports failures by longjmp; nothing with a destructor lives below this point.
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, info ? &info : nullptr);
    std::fclose(file);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (uint32_t y = 0; y < height; ++y) {
    png_write_row(png, const_cast<uint8_t*>(pixels) + size_t(y) * width);
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  // A full disk shows at the flush.
  const bool flushed = std::fflush(file) == 0 && !std::ferror(file);
  return std::fclose(file) == 0 && flushed;
}

}  // namespace

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
  // libpng refuses taller images by default; a clear word beats its own message.
  if (pageHeight > PNG_USER_HEIGHT_MAX || pageWidth > PNG_USER_WIDTH_MAX) {
    error = path + ": the page would be " + std::to_string(pageHeight) +
            " pixels tall; use fewer --faces-per-page";
    return false;
  }
  std::vector<uint8_t> page(size_t(pageWidth) * pageHeight, 255);
  for (const auto& [top, index] : rows_) {
    const auto& bitmap = storage_[index];
    for (uint32_t y = 0; y < bitmap.height; ++y) {
      const uint8_t* source = bitmap.pixels.data() + size_t(y) * bitmap.stride;
      uint8_t* target = page.data() + size_t(margin_ + top + y) * pageWidth + margin_;
      for (uint32_t x = 0; x < bitmap.width; ++x) target[x] = uint8_t(255 - source[x]);
    }
  }

  // Written beside the output and renamed over it once complete, so that a failure leaves neither
  // an empty nor a half-written file.
  const std::string partial = path + ".partial";
  if (!writeGrayPng(partial, page.data(), pageWidth, pageHeight) ||
      std::rename(partial.c_str(), path.c_str()) != 0) {
    const int cause = errno;
    std::remove(partial.c_str());
    error = "cannot write " + path + ": " + std::strerror(cause ? cause : EIO);
    return false;
  }
  return true;
}

}  // namespace kfp::preview
