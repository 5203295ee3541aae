#include <cmath>

#include "layout/gdi_layout.h"
#include "protocol/messages.h"

namespace kfp {
namespace {

// The height in DIPs of `pixels` device pixels, such that the rasterizer's ceil(height * dpiScale)
// gives back exactly `pixels`. The plain quotient is sometimes one ulp high (61 / 0.51f comes back
// as 62 pixels), which would add an empty row to the bitmap; step it down until it round-trips.
float heightOfPixels(int64_t pixels, float dpiScale) {
  const float target = std::ceil(static_cast<float>(pixels));
  float height = target / dpiScale;
  while (height > 0 && std::ceil(height * dpiScale) > target) {
    height = std::nextafter(height, 0.0f);
  }
  return height;
}

}  // namespace

LayoutResult measureGdiLayout(Gdi& gdi, const ResolvedFont& entry, const std::u16string& text,
                              float fontSize, float width, float dpiScale) {
  LayoutResult result;
  const bool italic = entry.style != kStyleNormal;
  std::unique_ptr<GdiFont> font =
      createGdiFont(gdi, entry.familyName, entry.weight, italic, fontSize, dpiScale);
  std::unique_ptr<GdiDeviceContext> dc = gdi.createCompatibleDC();
  if (!font || !dc) {
    result.error = errors::kGdiFontFailed;
    return result;
  }

  GdiLines lines;
  bool measured = false;
  if (dc->selectFont(*font)) {
    const auto maxWidthPx = static_cast<int32_t>(ceilToPixels(width * dpiScale));
    measured = breakGdiLines(*dc, text, maxWidthPx, &lines);
    dc->restoreFont();
  }
  font.reset();
  dc.reset();
  if (!measured) {
    result.error = errors::kGdiMeasureFailed;
    return result;
  }

  const uint64_t n = lines.lines.size();
  const int64_t pixels = static_cast<int64_t>(n) * lines.lineHeight;
  result.resolved = true;
  result.kind = FontKind::Gdi;
  result.height = heightOfPixels(pixels, dpiScale);
  result.lineCount = static_cast<uint32_t>(n);
  result.text = text;
  result.familyName = entry.familyName;
  result.weight = entry.weight;
  result.italic = italic;
  result.fontSize = fontSize;
  result.width = width;
  result.dpiScale = dpiScale;
  return result;
}

}  // namespace kfp
