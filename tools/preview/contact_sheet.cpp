#include "contact_sheet.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "png_writer.h"

namespace kfp::preview {
namespace {

// Paths are UTF-8 on both systems; on Windows the C library's narrow calls would take them in the
// ANSI code page instead.
std::filesystem::path pathOf(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::FILE* openForWriting(const std::string& path) {
#ifdef _WIN32
  return _wfopen(pathOf(path).c_str(), L"wb");
#else
  return std::fopen(path.c_str(), "wb");
#endif
}

// Moves `from` over `to`, replacing it; the reason in `why` when it cannot.
bool replaceFile(const std::string& from, const std::string& to, std::string& why) {
#ifdef _WIN32
  // The C library's rename refuses an existing target on Windows.
  if (MoveFileExW(pathOf(from).c_str(), pathOf(to).c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  why = std::system_category().message(int(GetLastError()));
  return false;
#else
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  why = std::strerror(errno);
  return false;
#endif
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
  // PNG readers refuse taller images by default; a clear word beats a reader's failure later.
  if (pageHeight > kPngMaxSide || pageWidth > kPngMaxSide) {
    error = path + ": the page would be " + std::to_string(pageHeight) +
            " pixels tall; use fewer --faces-per-page";
    return false;
  }
  // Black ink on white, drawn a block of rows at a time: the page is never held whole.
  auto fillRows = [&](uint32_t first, uint32_t count, uint8_t* rows) {
    std::memset(rows, 255, size_t(pageWidth) * count);
    for (const auto& [top, index] : rows_) {
      const auto& bitmap = storage_[index];
      const uint32_t from = std::max(first, margin_ + top);
      const uint32_t to = std::min(first + count, margin_ + top + bitmap.height);
      for (uint32_t y = from; y < to; ++y) {
        const uint8_t* source = bitmap.pixels.data() + size_t(y - margin_ - top) * bitmap.stride;
        uint8_t* target = rows + size_t(y - first) * pageWidth + margin_;
        for (uint32_t x = 0; x < bitmap.width; ++x) target[x] = uint8_t(255 - source[x]);
      }
    }
  };

  // Written beside the output and renamed over it once complete, so that a failure leaves neither
  // an empty nor a half-written file.
  const std::string partial = path + ".partial";
  errno = 0;
  std::FILE* file = openForWriting(partial);
  bool written = file && writeGrayPng(file, pageWidth, pageHeight, fillRows);
  // A full disk shows at the flush.
  written = written && std::fflush(file) == 0 && !std::ferror(file);
  int cause = errno;
  if (file && std::fclose(file) != 0) {
    written = false;
    if (!cause) cause = errno;
  }
  std::string why;
  if (!written) {
    why = std::strerror(cause ? cause : EIO);
  } else if (replaceFile(partial, path, why)) {
    return true;
  }
  std::error_code ignored;
  std::filesystem::remove(pathOf(partial), ignored);
  error = "cannot write " + path + ": " + why;
  return false;
}

}  // namespace kfp::preview
