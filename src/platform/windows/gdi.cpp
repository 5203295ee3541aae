#include "platform/windows/gdi.h"

#include <algorithm>

#include "platform/windows/wide_text.h"

namespace kfp::windows_backend {
namespace {

class WindowsGdiFont final : public GdiFont {
 public:
  explicit WindowsGdiFont(HFONT font) : font_(font) {}
  ~WindowsGdiFont() override { DeleteObject(font_); }
  WindowsGdiFont(const WindowsGdiFont&) = delete;
  WindowsGdiFont& operator=(const WindowsGdiFont&) = delete;
  HFONT get() const { return font_; }

 private:
  HFONT font_;
};

class WindowsGdiBitmap final : public GdiBitmap {
 public:
  WindowsGdiBitmap(HBITMAP bitmap, void* bits) : bitmap_(bitmap), bits_(bits) {}
  ~WindowsGdiBitmap() override { DeleteObject(bitmap_); }
  WindowsGdiBitmap(const WindowsGdiBitmap&) = delete;
  WindowsGdiBitmap& operator=(const WindowsGdiBitmap&) = delete;
  uint8_t* pixels() override { return static_cast<uint8_t*>(bits_); }
  HBITMAP get() const { return bitmap_; }

 private:
  HBITMAP bitmap_;
  void* bits_;
};

// SelectObject's result: the previous object, or nothing when the selection failed.
HGDIOBJ selectInto(HDC dc, HGDIOBJ object) {
  const HGDIOBJ previous = SelectObject(dc, object);
  return previous == HGDI_ERROR ? nullptr : previous;
}

class WindowsDeviceContext final : public GdiDeviceContext {
 public:
  explicit WindowsDeviceContext(HDC dc) : dc_(dc) {}
  ~WindowsDeviceContext() override {
    // A font or bitmap still selected could not be deleted by its owner.
    restoreFont();
    restoreBitmap();
    DeleteDC(dc_);
  }
  WindowsDeviceContext(const WindowsDeviceContext&) = delete;
  WindowsDeviceContext& operator=(const WindowsDeviceContext&) = delete;

  bool selectFont(GdiFont& font) override {
    const auto* own = dynamic_cast<WindowsGdiFont*>(&font);
    if (!own) return false;
    const HGDIOBJ previous = selectInto(dc_, own->get());
    if (!previous) return false;
    if (!previousFont_) previousFont_ = previous;
    return true;
  }

  void restoreFont() override {
    if (previousFont_) SelectObject(dc_, previousFont_);
    previousFont_ = nullptr;
  }

  bool selectBitmap(GdiBitmap& bitmap) override {
    const auto* own = dynamic_cast<WindowsGdiBitmap*>(&bitmap);
    if (!own) return false;
    const HGDIOBJ previous = selectInto(dc_, own->get());
    if (!previous) return false;
    if (!previousBitmap_) previousBitmap_ = previous;
    return true;
  }

  void restoreBitmap() override {
    if (previousBitmap_) SelectObject(dc_, previousBitmap_);
    previousBitmap_ = nullptr;
  }

  int getTextFace(char16_t* buffer, int capacity) override {
    return GetTextFaceW(dc_, capacity, reinterpret_cast<WCHAR*>(buffer));
  }

  bool getTextMetrics(GdiTextMetrics* metrics) override {
    TEXTMETRICW measured{};
    if (!GetTextMetricsW(dc_, &measured)) return false;
    metrics->height = measured.tmHeight;
    metrics->externalLeading = measured.tmExternalLeading;
    return true;
  }

  bool getTextExtentExPoint(const char16_t* text, int count, int maxExtent, int* fit) override {
    SIZE size{};
    INT fitted = 0;
    if (!GetTextExtentExPointW(dc_, asWide(text), count, maxExtent, &fitted, nullptr, &size)) {
      return false;
    }
    *fit = fitted;
    return true;
  }

  void setTransparentBackground() override { SetBkMode(dc_, TRANSPARENT); }
  void setTextColor(uint32_t rgb) override { SetTextColor(dc_, rgb); }

  bool textOut(int x, int y, const char16_t* text, int count) override {
    return TextOutW(dc_, x, y, asWide(text), count);
  }

  void flush() override { GdiFlush(); }

  HDC get() const { return dc_; }

 private:
  HDC dc_;
  // What the first selection replaced, put back by the restore calls.
  HGDIOBJ previousFont_ = nullptr;
  HGDIOBJ previousBitmap_ = nullptr;
};

class WindowsGdi final : public Gdi {
 public:
  std::unique_ptr<GdiFont> createFont(const GdiFontRequest& request) override {
    LOGFONTW logFont{};
    logFont.lfHeight = request.height;
    logFont.lfWeight = request.weight;
    logFont.lfItalic = request.italic ? 1 : 0;
    logFont.lfCharSet = request.charSet;
    logFont.lfOutPrecision = OUT_DEFAULT_PRECIS;
    logFont.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    logFont.lfQuality = request.quality;
    logFont.lfPitchAndFamily = 0;
    // The record holds 31 code units and the terminating zero; a longer name is refused rather
    // than cut, which would ask for another face.
    if (request.faceName.size() >= LF_FACESIZE) return nullptr;
    std::copy(request.faceName.begin(), request.faceName.end(), logFont.lfFaceName);
    const HFONT font = CreateFontIndirectW(&logFont);
    if (!font) return nullptr;
    return std::make_unique<WindowsGdiFont>(font);
  }

  std::unique_ptr<GdiDeviceContext> createCompatibleDC() override {
    const HDC dc = CreateCompatibleDC(nullptr);
    if (!dc) return nullptr;
    return std::make_unique<WindowsDeviceContext>(dc);
  }

  std::unique_ptr<GdiBitmap> createDibSection(GdiDeviceContext& dc, uint32_t width,
                                              uint32_t height) override {
    const auto* own = dynamic_cast<WindowsDeviceContext*>(&dc);
    if (!own || width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX) {
      return nullptr;
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = static_cast<LONG>(width);
    info.bmiHeader.biHeight = -static_cast<LONG>(height);  // top-down: row 0 first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const HBITMAP bitmap = CreateDIBSection(own->get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap) return nullptr;
    if (!bits) {
      DeleteObject(bitmap);
      return nullptr;
    }
    return std::make_unique<WindowsGdiBitmap>(bitmap, bits);
  }

  bool equalIgnoringCase(std::u16string_view a, std::u16string_view b) override {
    // An empty view may carry no pointer, which the call refuses.
    if (a.empty() || b.empty()) return a.size() == b.size();
    if (a.size() > INT32_MAX || b.size() > INT32_MAX) return false;
    return CompareStringOrdinal(asWide(a.data()), static_cast<int>(a.size()), asWide(b.data()),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
  }
};

}  // namespace

std::unique_ptr<Gdi> createWindowsGdi() {
  return std::make_unique<WindowsGdi>();
}

}  // namespace kfp::windows_backend
