#include "support/fake_gdi.h"

#include <algorithm>

namespace kfp::testing {
namespace {

char16_t foldAscii(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? c + (u'a' - u'A') : c;
}

class FakeFont : public GdiFont {
 public:
  FakeFont(FakeGdi& gdi, GdiFontRequest request) : gdi_(gdi), spec_(std::move(request)) {
    ++gdi_.liveFonts;
  }
  ~FakeFont() override { --gdi_.liveFonts; }
  const GdiFontRequest& request() const { return spec_; }

 private:
  FakeGdi& gdi_;
  GdiFontRequest spec_;
};

class FakeBitmap : public GdiBitmap {
 public:
  FakeBitmap(FakeGdi& gdi, uint32_t width, uint32_t height)
      // Fresh DIB memory is not white: the caller must paint the background itself.
      : gdi_(gdi), width_(width), height_(height), data_(size_t{width} * height * 4, 0x5A) {
    ++gdi_.liveBitmaps;
  }
  ~FakeBitmap() override { --gdi_.liveBitmaps; }
  uint8_t* pixels() override { return gdi_.dibWithoutPixels ? nullptr : data_.data(); }
  uint32_t width() const { return width_; }
  uint32_t height() const { return height_; }
  uint8_t* data() { return data_.data(); }

 private:
  FakeGdi& gdi_;
  uint32_t width_, height_;
  std::vector<uint8_t> data_;
};

class FakeDeviceContext : public GdiDeviceContext {
 public:
  explicit FakeDeviceContext(FakeGdi& gdi) : gdi_(gdi) { ++gdi_.liveDeviceContexts; }
  ~FakeDeviceContext() override { --gdi_.liveDeviceContexts; }

  bool selectFont(GdiFont& font) override {
    const int call = gdi_.selectFontCalls++;
    if (gdi_.failSelectFont || call == gdi_.failSelectFontCall) return false;
    if (!font_) ++gdi_.openSelections;
    font_ = static_cast<FakeFont*>(&font);
    return true;
  }
  void restoreFont() override {
    if (font_) --gdi_.openSelections;
    font_ = nullptr;
  }
  bool selectBitmap(GdiBitmap& bitmap) override {
    if (gdi_.failSelectBitmap) return false;
    if (!bitmap_) ++gdi_.openSelections;
    bitmap_ = static_cast<FakeBitmap*>(&bitmap);
    return true;
  }
  void restoreBitmap() override {
    if (bitmap_) --gdi_.openSelections;
    bitmap_ = nullptr;
  }

  int getTextFace(char16_t* buffer, int capacity) override {
    if (!font_ || capacity <= 0) return 0;
    const GdiFontRequest& request = font_->request();
    const std::u16string face = gdi_.selectFace ? gdi_.selectFace(request) : request.faceName;
    const int copied = std::min<int>(static_cast<int>(face.size()), capacity - 1);
    std::copy_n(face.begin(), copied, buffer);
    buffer[copied] = u'\0';
    return gdi_.textFaceResult != 0 ? gdi_.textFaceResult : copied + 1;
  }

  bool getTextMetrics(GdiTextMetrics* metrics) override {
    if (!font_ || gdi_.failTextMetrics) return false;
    *metrics = gdi_.metrics;
    return true;
  }

  bool getTextExtentExPoint(const char16_t* text, int count, int maxExtent, int* fit) override {
    gdi_.extentLimits.push_back(maxExtent);
    if (!font_ || gdi_.failTextExtent) return false;
    *fit = gdi_.fitCount(std::u16string_view(text, count), maxExtent);
    return true;
  }

  void setTransparentBackground() override {}
  void setTextColor(uint32_t rgb) override { textColor_ = rgb; }

  bool textOut(int x, int y, const char16_t* text, int count) override {
    const int call = static_cast<int>(gdi_.textOuts.size());
    gdi_.textOuts.push_back({x, y, std::u16string(text, count)});
    if (!font_ || !bitmap_ || call == gdi_.failTextOutCall) return false;
    for (int i = 0; i < count; ++i) {
      const int advance = gdi_.unitWidth(text[i]);
      fillCell(x, y, advance, gdi_.metrics.height);
      x += advance;
    }
    return true;
  }

  void flush() override { ++gdi_.flushes; }

 private:
  void fillCell(int left, int top, int width, int height) {
    const uint8_t blue = gdi_.useInkOverride ? gdi_.inkBlue : uint8_t(textColor_ >> 16);
    const uint8_t green = gdi_.useInkOverride ? gdi_.inkGreen : uint8_t(textColor_ >> 8);
    const uint8_t red = gdi_.useInkOverride ? gdi_.inkRed : uint8_t(textColor_);
    const int right = std::min<int>(left + width, static_cast<int>(bitmap_->width()));
    const int bottom = std::min<int>(top + height, static_cast<int>(bitmap_->height()));
    for (int row = std::max(top, 0); row < bottom; ++row) {
      for (int column = std::max(left, 0); column < right; ++column) {
        uint8_t* pixel = bitmap_->data() + (size_t(row) * bitmap_->width() + column) * 4;
        pixel[0] = blue;
        pixel[1] = green;
        pixel[2] = red;
      }
    }
  }

  FakeGdi& gdi_;
  FakeFont* font_ = nullptr;
  FakeBitmap* bitmap_ = nullptr;
  uint32_t textColor_ = 0xFFFFFF;
};

}  // namespace

int FakeGdi::fitCount(std::u16string_view run, int maxExtent) const {
  int extent = 0;
  int fit = 0;
  for (char16_t c : run) {
    extent += unitWidth(c);
    if (extent > maxExtent) break;
    ++fit;
  }
  return fit;
}

std::unique_ptr<GdiFont> FakeGdi::createFont(const GdiFontRequest& request) {
  createdFonts.push_back(request);
  if (failCreateFont) return nullptr;
  return std::make_unique<FakeFont>(*this, request);
}

std::unique_ptr<GdiDeviceContext> FakeGdi::createCompatibleDC() {
  const int call = deviceContextCalls++;
  if (call == failDeviceContextCall) return nullptr;
  return std::make_unique<FakeDeviceContext>(*this);
}

std::unique_ptr<GdiBitmap> FakeGdi::createDibSection(GdiDeviceContext&, uint32_t width,
                                                     uint32_t height) {
  if (failDibSection) return nullptr;
  return std::make_unique<FakeBitmap>(*this, width, height);
}

bool FakeGdi::equalIgnoringCase(std::u16string_view a, std::u16string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char16_t x, char16_t y) { return foldAscii(x) == foldAscii(y); });
}

}  // namespace kfp::testing
