#pragma once
// A grayscale page built from A8 coverage bitmaps, written as PNG.

#include <cstdint>
#include <string>
#include <vector>

#include "replies.h"

namespace kfp::preview {

class ContactSheet {
 public:
  explicit ContactSheet(uint32_t margin) : margin_(margin) {}

  // Appends a bitmap below everything so far, `gapAbove` pixels lower than the previous row.
  void addBitmap(const client::RenderResult& bitmap, uint32_t gapAbove);
  bool empty() const { return rows_.empty(); }
  // Black ink on white.
  bool writePng(const std::string& path, std::string& error) const;

 private:
  uint32_t margin_;
  uint32_t height_ = 0;
  uint32_t width_ = 0;
  std::vector<client::RenderResult> storage_;
  std::vector<std::pair<uint32_t, size_t>> rows_;  // top, index into storage_
};

}  // namespace kfp::preview
