#pragma once
// Reusable state of paragraph layout: the ICU line and grapheme break iterators (re-pointed with
// ubrk_setText), the bidi object, one HarfBuzz buffer, and scratch arrays that keep their capacity
// between layouts.

#include <hb.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/c_handles.h"
#include "platform/linux/text/line_breaker.h"

namespace kfp::linux_backend {

class ShapeMemo;

// What hidden characters (controls, tabs, default ignorables) shape to: never drawn, no advance.
constexpr uint32_t kInvisibleGlyph = 0xFFFFFFFF;

// One shaped glyph, in font units; cluster is the paragraph-relative index of its first code unit.
struct ShapedGlyph {
  uint32_t id = 0;
  uint32_t cluster = 0;
  int32_t advance = 0;
  int32_t xOffset = 0;
  int32_t yOffset = 0;
};

// A run of one bidi level and one script. Its glyphs are in visual order within the run.
struct ShapedRun {
  uint32_t start = 0;
  uint32_t end = 0;
  uint32_t glyphStart = 0;
  uint32_t glyphEnd = 0;
  uint8_t level = 0;
};

class LayoutEngine {
 public:
  // nullptr when ICU or HarfBuzz cannot create their objects.
  static std::unique_ptr<LayoutEngine> create();

  // Shapes one paragraph into runs and glyphs (logical run order), or takes them from the memo
  // when it holds this paragraph at these coordinates. False on an ICU failure.
  bool shapeParagraph(std::u16string_view paragraph, hb_font_t* font, hb_language_t language,
                      ShapeMemo& memo, uint32_t variationId);
  const std::vector<ShapedRun>& runs() const { return runs_; }
  const std::vector<ShapedGlyph>& glyphs() const { return glyphs_; }
  // The script each run of the last paragraph shaped (not its memo hits) was shaped with.
  const std::vector<hb_script_t>& runScripts() const { return runScripts_; }

  // Adds kLineBreakBefore at UAX #14 opportunities of the paragraph, kHangingSpace and kTab to
  // flags (size n + 1).
  bool markLineBreaks(std::u16string_view paragraph, std::vector<uint8_t>& flags);
  // Adds kEmergencyBreakBefore at grapheme boundaries that are also glyph-cluster starts.
  bool markGraphemeBreaks(std::u16string_view paragraph, std::vector<uint8_t>& flags);

  // Visual order of `levels.size()` runs on one line (map[visual] = logical).
  void reorderRuns(const std::vector<uint8_t>& levels, std::vector<int32_t>& map) const;

  // Arrays the paragraph layout refills for every text; kept here for their capacity.
  struct Scratch {
    std::vector<TextRange> paragraphs;
    std::vector<float> advances;
    std::vector<uint8_t> flags;
    std::vector<LineSpan> lines;
    std::vector<uint32_t> lineRuns;
    std::vector<uint8_t> lineLevels;
    std::vector<int32_t> visualOrder;
  };
  Scratch& scratch() { return scratch_; }

 private:
  LayoutEngine() = default;
  bool computeLevels(std::u16string_view paragraph);
  void itemize(std::u16string_view paragraph);
  void shapeRun(std::u16string_view paragraph, ShapedRun& run, hb_script_t script, hb_font_t* font,
                hb_language_t language);

  BreakIteratorPtr lineBreaks_;
  // The opportunities of the paragraph marked last: they depend on its text alone, and a request
  // lays one text out in every font it names.
  std::u16string breaksText_;
  std::vector<int32_t> breakPositions_;
  BreakIteratorPtr graphemes_;
  BidiPtr bidi_;
  HbBufferPtr buffer_;
  std::vector<uint8_t> levels_;
  std::vector<hb_script_t> charScripts_;  // resolved script at each code point's first unit
  std::vector<hb_script_t> runScripts_;
  std::vector<ShapedRun> runs_;
  std::vector<ShapedGlyph> glyphs_;
  std::vector<uint8_t> clusterStarts_;
  Scratch scratch_;
};

}  // namespace kfp::linux_backend
