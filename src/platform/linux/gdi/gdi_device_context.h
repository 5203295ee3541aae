#pragma once
// The GDI-style memory device context and DIB section of the Linux backend.

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "platform/gdi.h"
#include "platform/linux/gdi/gdi_sized_font.h"

namespace kfp::linux_backend {

class GdiDibSection : public GdiBitmap {
 public:
  // nullptr when the memory cannot be had: a failed DIB section, not an exception.
  static std::unique_ptr<GdiDibSection> create(uint32_t width, uint32_t height);
  uint8_t* pixels() override { return data_.get(); }
  BgrxSurface surface() { return {data_.get(), width_, height_}; }

 private:
  struct Free {
    void operator()(uint8_t* p) const { std::free(p); }
  };
  GdiDibSection(uint8_t* data, uint32_t width, uint32_t height)
      : data_(data), width_(width), height_(height) {}
  std::unique_ptr<uint8_t, Free> data_;
  uint32_t width_;
  uint32_t height_;
};

class GdiMemoryContext : public GdiDeviceContext {
 public:
  bool selectFont(GdiFont& font) override;
  void restoreFont() override { font_ = nullptr; }
  bool selectBitmap(GdiBitmap& bitmap) override;
  void restoreBitmap() override { bitmap_ = nullptr; }
  int getTextFace(char16_t* buffer, int capacity) override;
  bool getTextMetrics(GdiTextMetrics* metrics) override;
  bool getTextExtentExPoint(const char16_t* text, int count, int maxExtent, int* fit) override;
  void setTransparentBackground() override { transparent_ = true; }
  void setTextColor(uint32_t rgb) override { textColor_ = rgb; }
  bool textOut(int x, int y, const char16_t* text, int count) override;
  void flush() override {}  // drawing is synchronous

 private:
  // A fresh context has no font or bitmap of its own: every query needs a selected font. Selecting
  // and reading the face name leave a deferred font unopened; the other queries open it.
  GdiSizedFont* font_ = nullptr;
  GdiDibSection* bitmap_ = nullptr;
  bool transparent_ = false;
  uint32_t textColor_ = 0x000000;
  uint32_t backgroundColor_ = 0xFFFFFF;
};

}  // namespace kfp::linux_backend
