#include "platform/linux/gdi/gdi_device_context.h"

#include <algorithm>
#include <cstring>

namespace kfp::linux_backend {

std::unique_ptr<GdiDibSection> GdiDibSection::create(uint32_t width, uint32_t height) {
  if (width == 0 || height == 0) return nullptr;
  // calloc: large sections come zeroed straight from the kernel, as a DIB section's memory does.
  auto* data = static_cast<uint8_t*>(std::calloc(size_t{width} * height, 4));
  if (!data) return nullptr;
  return std::unique_ptr<GdiDibSection>(new GdiDibSection(data, width, height));
}

bool GdiMemoryContext::selectFont(GdiFont& font) {
  auto* sized = dynamic_cast<GdiSizedFont*>(&font);
  if (!sized) return false;
  font_ = sized;
  return true;
}

bool GdiMemoryContext::selectBitmap(GdiBitmap& bitmap) {
  auto* dib = dynamic_cast<GdiDibSection*>(&bitmap);
  if (!dib) return false;
  bitmap_ = dib;
  return true;
}

int GdiMemoryContext::getTextFace(char16_t* buffer, int capacity) {
  if (!font_ || !buffer || capacity <= 0) return 0;
  const std::u16string& face = font_->faceName();
  const int copied = std::min(static_cast<int>(face.size()), capacity - 1);
  std::copy_n(face.data(), copied, buffer);
  buffer[copied] = u'\0';
  return copied + 1;
}

bool GdiMemoryContext::getTextMetrics(GdiTextMetrics* metrics) {
  if (!font_ || !metrics || !font_->ready()) return false;
  *metrics = font_->metrics();
  return true;
}

bool GdiMemoryContext::getTextExtentExPoint(const char16_t* text, int count, int maxExtent,
                                            int* fit) {
  if (!font_ || !fit || count < 0 || (count > 0 && !text) || !font_->ready()) return false;
  *fit = font_->fitCount(std::u16string_view(text, size_t(count)), maxExtent);
  return true;
}

bool GdiMemoryContext::textOut(int x, int y, const char16_t* text, int count) {
  if (!font_ || !bitmap_ || count < 0 || (count > 0 && !text) || !font_->ready()) return false;
  const std::u16string_view run(text, size_t(count));
  BgrxSurface surface = bitmap_->surface();
  if (!transparent_) {
    // Opaque mode paints the run's cell in the background colour first.
    const int64_t left = std::max<int64_t>(x, 0);
    const int64_t right = std::min<int64_t>(int64_t{x} + font_->extent(run), surface.width);
    const int64_t top = std::max<int64_t>(y, 0);
    const int64_t bottom = std::min<int64_t>(int64_t{y} + font_->metrics().height, surface.height);
    for (int64_t row = top; row < bottom; ++row) {
      for (int64_t column = left; column < right; ++column) {
        uint8_t* pixel = surface.data + (size_t(row) * surface.width + size_t(column)) * 4;
        pixel[0] = uint8_t(backgroundColor_ >> 16);
        pixel[1] = uint8_t(backgroundColor_ >> 8);
        pixel[2] = uint8_t(backgroundColor_);
      }
    }
  }
  font_->draw(run, x, y, textColor_, surface);
  return true;
}

}  // namespace kfp::linux_backend
