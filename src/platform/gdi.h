#pragma once
// Seam: the GDI-style font backend for faces the text engine cannot use (bitmap-only faces).
// Works in device pixels. Failures are return values.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace kfp {

// Mirrors the classic logical-font record; fields not listed are zero there.
struct GdiFontRequest {
  int32_t height = 0;  // negative: select by character height in pixels
  int32_t weight = 400;
  bool italic = false;
  uint8_t charSet = 1;  // default charset
  uint8_t quality = 4;  // antialiased
  std::u16string faceName;
};

struct GdiTextMetrics {
  int32_t height = 0;           // cell height (ascent + descent)
  int32_t externalLeading = 0;  // line gap beyond the cell
};

class GdiFont {
 public:
  virtual ~GdiFont() = default;
};

// A 32-bit top-down surface: blue, green, red, unused; rows are exactly 4 * width bytes apart.
class GdiBitmap {
 public:
  virtual ~GdiBitmap() = default;
  virtual uint8_t* pixels() = 0;
};

class GdiDeviceContext {
 public:
  virtual ~GdiDeviceContext() = default;
  // False when the selection failed. restoreFont puts the previously selected font back.
  virtual bool selectFont(GdiFont& font) = 0;
  virtual void restoreFont() = 0;
  virtual bool selectBitmap(GdiBitmap& bitmap) = 0;
  virtual void restoreBitmap() = 0;
  // Copies the selected face's name with its terminating zero into buffer; returns the number of
  // code units copied, 0 or less on failure.
  virtual int getTextFace(char16_t* buffer, int capacity) = 0;
  virtual bool getTextMetrics(GdiTextMetrics* metrics) = 0;
  // How many code units of the run fit within maxExtent pixels.
  virtual bool getTextExtentExPoint(const char16_t* text, int count, int maxExtent, int* fit) = 0;
  virtual void setTransparentBackground() = 0;
  virtual void setTextColor(uint32_t rgb) = 0;
  // Draws the run with the top-left corner of its cell at (x, y).
  virtual bool textOut(int x, int y, const char16_t* text, int count) = 0;
  virtual void flush() = 0;
};

class Gdi {
 public:
  virtual ~Gdi() = default;
  virtual std::unique_ptr<GdiFont> createFont(const GdiFontRequest& request) = 0;
  virtual std::unique_ptr<GdiDeviceContext> createCompatibleDC() = 0;
  virtual std::unique_ptr<GdiBitmap> createDibSection(GdiDeviceContext& dc, uint32_t width,
                                                      uint32_t height) = 0;
  // Ordinal comparison ignoring case.
  virtual bool equalIgnoringCase(std::u16string_view a, std::u16string_view b) = 0;
};

}  // namespace kfp
