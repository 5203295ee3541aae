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

namespace {

// A table of the face and its bytes, released with this object.
class TableBytes {
 public:
  TableBytes(hb_face_t* face, hb_tag_t tag) : blob_(hb_face_reference_table(face, tag)) {
    unsigned length = 0;
    data_ = reinterpret_cast<const unsigned char*>(hb_blob_get_data(blob_, &length));
    size_ = length;
  }
  ~TableBytes() { hb_blob_destroy(blob_); }
  TableBytes(const TableBytes&) = delete;
  TableBytes& operator=(const TableBytes&) = delete;
  size_t size() const { return data_ ? size_ : 0; }
  uint16_t u16(size_t at) const { return uint16_t(data_[at] << 8 | data_[at + 1]); }
  int16_t s16(size_t at) const { return int16_t(u16(at)); }

 private:
  hb_blob_t* blob_;
  const unsigned char* data_ = nullptr;
  size_t size_ = 0;
};

// The bytes FreeType reads of an OS/2 table of each version; a shorter table is no table to it.
size_t os2Length(uint16_t version) {
  if (version >= 5) return 100;
  if (version >= 2) return 96;
  if (version >= 1) return 86;
  return 78;
}

}  // namespace

void readLineMetricTables(hb_face_t* face, LineMetricTables* tables, uint16_t* macStyle) {
  *tables = LineMetricTables{};
  const TableBytes head(face, HB_TAG('h', 'e', 'a', 'd'));
  if (head.size() >= 54) {
    tables->unitsPerEm = head.u16(18);
    if (macStyle) *macStyle = head.u16(44);
  }
  const TableBytes os2(face, HB_TAG('O', 'S', '/', '2'));
  if (os2.size() >= 78 && os2.size() >= os2Length(os2.u16(0))) {
    tables->hasOs2 = true;
    tables->fsSelection = os2.u16(62);
    tables->typoAscender = os2.s16(68);
    tables->typoDescender = os2.s16(70);
    tables->typoLineGap = os2.s16(72);
    tables->winAscent = os2.u16(74);
    tables->winDescent = os2.u16(76);
  }
  tables->hasHhea = true;
  const TableBytes hhea(face, HB_TAG('h', 'h', 'e', 'a'));
  if (hhea.size() >= 36) {
    tables->hheaAscender = hhea.s16(4);
    tables->hheaDescender = hhea.s16(6);
    tables->hheaLineGap = hhea.s16(8);
  }
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
