#include "platform/linux/fonts/face_metrics.h"

#include FT_TRUETYPE_TABLES_H

#include <algorithm>

namespace kfp::linux_backend {
namespace {

constexpr uint16_t kUseTypoMetrics = 1u << 7;

bool setFromTypo(const LineMetricTables& tables, FaceLineMetrics& metrics) {
  if (tables.typoAscender - tables.typoDescender <= 0) return false;
  metrics.ascent = tables.typoAscender;
  metrics.descent = -tables.typoDescender;
  metrics.lineGap = std::max<int>(0, tables.typoLineGap);
  return true;
}

bool setFromHhea(const LineMetricTables& tables, FaceLineMetrics& metrics) {
  if (!tables.hasHhea || tables.hheaAscender - tables.hheaDescender <= 0) return false;
  metrics.ascent = tables.hheaAscender;
  metrics.descent = -tables.hheaDescender;
  metrics.lineGap = std::max<int>(0, tables.hheaLineGap);
  return true;
}

}  // namespace

bool chooseLineMetrics(const LineMetricTables& tables, FaceLineMetrics& metrics) {
  if (tables.unitsPerEm != 0) metrics.unitsPerEm = tables.unitsPerEm;
  if (tables.hasOs2 && (tables.fsSelection & kUseTypoMetrics)) {
    metrics.ascent = tables.typoAscender;
    metrics.descent = -tables.typoDescender;
    metrics.lineGap = std::max<int>(0, tables.typoLineGap);
    return true;
  }
  const int winSum = tables.winAscent + tables.winDescent;
  if (tables.hasOs2 && winSum > 0) {
    metrics.ascent = tables.winAscent;
    metrics.descent = tables.winDescent;
    if (tables.hasHhea) {
      const int hheaSpacing = tables.hheaAscender - tables.hheaDescender + tables.hheaLineGap;
      metrics.lineGap = std::max(0, hheaSpacing - winSum);
    }
    return true;
  }
  // Win values of zero would collapse every line to its gap: fall back to the typographic values,
  // then to hhea.
  if (tables.hasOs2 && setFromTypo(tables, metrics)) return true;
  return setFromHhea(tables, metrics);
}

FaceLineMetrics readLineMetrics(FT_Face face) {
  LineMetricTables tables;
  tables.unitsPerEm = face->units_per_EM;
  // FreeType reports 0 units per em for faces without outlines (CBDT colour bitmaps); the head
  // table still has them, and the shaper scales by that value.
  if (tables.unitsPerEm == 0) {
    if (const auto* head = static_cast<const TT_Header*>(FT_Get_Sfnt_Table(face, FT_SFNT_HEAD))) {
      tables.unitsPerEm = head->Units_Per_EM;
    }
  }
  if (const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2))) {
    tables.hasOs2 = true;
    tables.fsSelection = os2->fsSelection;
    tables.typoAscender = os2->sTypoAscender;
    tables.typoDescender = os2->sTypoDescender;
    tables.typoLineGap = os2->sTypoLineGap;
    tables.winAscent = os2->usWinAscent;
    tables.winDescent = os2->usWinDescent;
  }
  if (const auto* hhea = static_cast<const TT_HoriHeader*>(FT_Get_Sfnt_Table(face, FT_SFNT_HHEA))) {
    tables.hasHhea = true;
    tables.hheaAscender = hhea->Ascender;
    tables.hheaDescender = hhea->Descender;
    tables.hheaLineGap = hhea->Line_Gap;
  }
  FaceLineMetrics metrics;
  if (!chooseLineMetrics(tables, metrics)) {
    // Not an sfnt (Type 1, bare CFF), or one without usable vertical metrics: FreeType's own
    // global metrics.
    metrics.ascent = face->ascender;
    metrics.descent = -face->descender;
    metrics.lineGap = std::max(0, face->height - face->ascender + face->descender);
  }
  return metrics;
}

}  // namespace kfp::linux_backend
