#pragma once
// Line breaking: paragraphs split at hard breaks, then each broken greedily from per-code-unit
// advances and break positions.

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "platform/text_engine.h"

namespace kfp::linux_backend {

struct TextRange {
  uint32_t start = 0;
  uint32_t end = 0;
  bool operator==(const TextRange&) const = default;
};

// The text between hard breaks (LF, CR, CRLF, NEL, LS, PS), the breaks themselves excluded. Every
// break starts a new paragraph, so a text ending in a break ends with an empty paragraph and an
// empty text is one empty paragraph.
void splitParagraphs(std::u16string_view text, std::vector<TextRange>& paragraphs);

// Per position 0..n of an n-code-unit paragraph.
enum BreakFlag : uint8_t {
  kLineBreakBefore = 1,       // a line may end here (UAX #14 opportunity)
  kEmergencyBreakBefore = 2,  // a grapheme-cluster and glyph-cluster boundary
  kHangingSpace = 4,          // this code unit is white space that may hang past the line end
  kTab = 8,                   // a tab: its advance reaches the next tab stop, its own is ignored
};

struct LineSpan {
  uint32_t start = 0;
  uint32_t end = 0;         // where the next line starts
  uint32_t contentEnd = 0;  // end without the hanging white space
  float width = 0;          // of [start, contentEnd)
};

struct LineBreakInput {
  std::span<const float> advances;  // n entries; a cluster's advance sits on its first code unit
  std::span<const uint8_t> flags;   // n + 1 entries
  float maxWidth = 0;
  WordWrapping wrapping = WordWrapping::kEmergencyBreak;
  float tabStop = 0;  // distance between incremental tab stops from the line start
};

// Where a tab that starts at x on a line ends: the first tab stop after x.
float tabStopAfter(float x, float tabStop);

// Lines covering [0, n) in order; always at least one. A word wider than the line is broken at
// emergency boundaries (at least one cluster per line) only with WordWrapping::kEmergencyBreak.
void breakLines(const LineBreakInput& input, std::vector<LineSpan>& lines);

}  // namespace kfp::linux_backend
