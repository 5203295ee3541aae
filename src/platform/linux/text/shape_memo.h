#pragma once
// The last few paragraphs shaped with one face. A host measures a text and then renders the same
// text, for every font of a list, so reshaping it each time is the largest cost of a layout.

#include <hb.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/text/layout_engine.h"

namespace kfp::linux_backend {

struct ShapedParagraph {
  std::u16string text;
  uint32_t variationId = 0;
  hb_language_t language = nullptr;
  std::vector<ShapedRun> runs;
  std::vector<ShapedGlyph> glyphs;
  std::vector<uint8_t> clusterStarts;
};

class ShapeMemo {
 public:
  // The remembered shaping of exactly this paragraph, or nullptr.
  const ShapedParagraph* find(std::u16string_view text, uint32_t variationId,
                              hb_language_t language) const;
  // A slot to fill, replacing the oldest entry.
  ShapedParagraph& slotFor(std::u16string_view text, uint32_t variationId, hb_language_t language);
  void clear();
  size_t memoryBytes() const;

 private:
  static constexpr size_t kEntries = 4;
  std::array<ShapedParagraph, kEntries> entries_;
  std::array<bool, kEntries> used_{};
  size_t next_ = 0;
};

}  // namespace kfp::linux_backend
