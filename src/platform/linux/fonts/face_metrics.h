#pragma once
// Vertical line metrics of a face in font units, chosen the way the Windows text stack chooses
// them.

#include <ft2build.h>
#include FT_FREETYPE_H
#include <hb.h>

#include <cstdint>

namespace kfp::linux_backend {

struct FaceLineMetrics {
  float ascent = 0;   // above the baseline, font units
  float descent = 0;  // below the baseline, positive
  float lineGap = 0;
  float unitsPerEm = 1000;

  float lineHeight(float fontSize) const {
    return (ascent + descent + lineGap) * fontSize / unitsPerEm;
  }
  float baseline(float fontSize) const { return ascent * fontSize / unitsPerEm; }
};

// The raw values of the head, OS/2 and hhea tables that line metrics are chosen from.
struct LineMetricTables {
  uint16_t unitsPerEm = 0;
  bool hasOs2 = false;
  uint16_t fsSelection = 0;
  int16_t typoAscender = 0;
  int16_t typoDescender = 0;  // negative below the baseline
  int16_t typoLineGap = 0;
  uint16_t winAscent = 0;
  uint16_t winDescent = 0;  // positive below the baseline
  bool hasHhea = false;
  int16_t hheaAscender = 0;
  int16_t hheaDescender = 0;  // negative below the baseline
  int16_t hheaLineGap = 0;
};

// With OS/2 USE_TYPO_METRICS the typographic values; otherwise the win ascent and descent with the
// part of the hhea line spacing that exceeds them as gap. When the win values sum to zero, the
// typographic values if they span anything, else hhea. False when no table gives usable values;
// `metrics` then only has its units per em set.
bool chooseLineMetrics(const LineMetricTables& tables, FaceLineMetrics& metrics);

// The face's tables through chooseLineMetrics; FreeType's global metrics when they give nothing.
FaceLineMetrics readLineMetrics(FT_Face face);

// The same values from the head, OS/2 and hhea tables of a HarfBuzz face, as FreeType takes them:
// OS/2 counts only when it is long enough for its version, hhea always (zeros when missing or
// short). `macStyle`, when given, gets the head table's style bits.
void readLineMetricTables(hb_face_t* face, LineMetricTables* tables, uint16_t* macStyle);

}  // namespace kfp::linux_backend
