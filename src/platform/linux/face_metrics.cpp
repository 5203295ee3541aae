#include "platform/linux/face_metrics.h"

#include FT_TRUETYPE_TABLES_H

#include <algorithm>

namespace kfp::linux_backend {
namespace {

constexpr uint16_t kUseTypoMetrics = 1u << 7;

}  // namespace

FaceLineMetrics readLineMetrics(FT_Face face) {
  FaceLineMetrics metrics;
  if (face->units_per_EM != 0) metrics.unitsPerEm = face->units_per_EM;
  const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  const auto* hhea = static_cast<const TT_HoriHeader*>(FT_Get_Sfnt_Table(face, FT_SFNT_HHEA));

  if (os2 && (os2->fsSelection & kUseTypoMetrics)) {
    metrics.ascent = os2->sTypoAscender;
    metrics.descent = -os2->sTypoDescender;
    metrics.lineGap = std::max<int>(0, os2->sTypoLineGap);
  } else if (os2) {
    metrics.ascent = os2->usWinAscent;
    metrics.descent = os2->usWinDescent;
    if (hhea) {
      const int hheaSpacing = hhea->Ascender - hhea->Descender + hhea->Line_Gap;
      metrics.lineGap = std::max(0, hheaSpacing - (os2->usWinAscent + os2->usWinDescent));
    }
  } else if (hhea) {
    metrics.ascent = hhea->Ascender;
    metrics.descent = -hhea->Descender;
    metrics.lineGap = std::max<int>(0, hhea->Line_Gap);
  } else {
    // Not an sfnt (Type 1, bare CFF): FreeType's own global metrics.
    metrics.ascent = face->ascender;
    metrics.descent = -face->descender;
    metrics.lineGap = std::max(0, face->height - face->ascender + face->descender);
  }
  return metrics;
}

}  // namespace kfp::linux_backend
