#include <cmath>

#include "layout/gdi_layout.h"
#include "layout/measure_layout.h"
#include "protocol/message_types.h"

namespace kfp {

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
  result.height = heightOfPixels(static_cast<float>(pixels), dpiScale);
  result.lineCount = static_cast<uint32_t>(n);
  result.drawing =
      GdiLayout{text, entry.familyName, entry.weight, italic, fontSize, width, dpiScale};
  return result;
}

}  // namespace kfp
