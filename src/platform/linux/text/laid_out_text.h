#pragma once
// The result of a Linux paragraph layout: lines and visually ordered glyph positions in DIPs, with
// everything drawing needs (face, size, simulations, variation coordinates).

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/linux/files/loaded_face.h"
#include "platform/text_engine.h"

namespace kfp::linux_backend {

struct PositionedGlyph {
  uint32_t id = 0;
  float x = 0;  // pen position, DIPs from the layout's left edge
  float y = 0;  // baseline, DIPs from the layout's top
};

struct LaidOutLine {
  uint32_t textStart = 0;  // code units of the whole text
  uint32_t textEnd = 0;    // without the hanging white space and the hard break
  float top = 0;
  float height = 0;
  float baseline = 0;
  float width = 0;  // without hanging white space
  uint32_t glyphStart = 0;
  uint32_t glyphEnd = 0;
};

class LinuxTextLayout : public TextLayout {
 public:
  bool getMetrics(TextMetrics* metrics) const override;

  std::shared_ptr<LoadedFace> face;
  float fontSize = 0;
  uint32_t simulations = 0;
  std::vector<float> coordinates;  // one per axis of the face
  std::vector<LaidOutLine> lines;
  std::vector<PositionedGlyph> glyphs;
};

}  // namespace kfp::linux_backend
