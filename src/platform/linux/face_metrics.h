#pragma once
// Vertical line metrics of a face in font units, chosen the way the Windows text stack chooses
// them.

#include <ft2build.h>
#include FT_FREETYPE_H

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

// With OS/2 USE_TYPO_METRICS the typographic values; otherwise the win ascent and descent with the
// part of the hhea line spacing that exceeds them as gap; hhea alone when there is no OS/2 table.
FaceLineMetrics readLineMetrics(FT_Face face);

}  // namespace kfp::linux_backend
