#include "platform/linux/text/paragraph_layout.h"

#include <algorithm>

#include "platform/linux/raster/glyph_cache.h"

namespace kfp::linux_backend {
namespace {

// Simulated bold widens every advancing glyph by this fraction of the font size, matching the
// stroke the rasterizer adds.
constexpr float kBoldAdvance = 1.0f / 24;

// Incremental tab stops, in font sizes, from the start of each line.
constexpr float kTabStopEms = 4;

class ParagraphPlacer {
 public:
  ParagraphPlacer(LayoutEngine& engine, const LinuxTextFormat& format, float maxWidth,
                  LinuxTextLayout& layout)
      : engine_(engine),
        scratch_(engine.scratch()),
        format_(format),
        maxWidth_(maxWidth),
        layout_(layout) {
    const FaceLineMetrics& metrics = format.face()->glyphCache().lineMetrics();
    boldAdvance_ = (format.simulations() & kSimulateBold) ? format.fontSize() * kBoldAdvance : 0;
    lineHeight_ = metrics.lineHeight(format.fontSize());
    ascent_ = metrics.baseline(format.fontSize());
  }

  bool place(std::u16string_view text, hb_font_t* font, uint32_t variationId) {
    font_ = font;
    unitScale_ = designUnitScale(font, format_.fontSize());
    variationId_ = variationId;
    splitParagraphs(text, scratch_.paragraphs);
    for (const TextRange& range : scratch_.paragraphs) {
      if (!placeParagraph(text.substr(range.start, range.end - range.start), range.start)) {
        return false;
      }
    }
    return true;
  }

 private:
  float advanceOf(const ShapedGlyph& glyph) const {
    return glyph.advance == 0 ? 0 : float(glyph.advance) * unitScale_ + boldAdvance_;
  }

  // The widest stretch between break opportunities, hanging white space excluded.
  float widestWord() const {
    float widest = 0, word = 0, spaces = 0;
    for (size_t i = 0; i < scratch_.advances.size(); ++i) {
      if (scratch_.flags[i] & kLineBreakBefore) word = spaces = 0;
      if (scratch_.flags[i] & kHangingSpace) {
        spaces += scratch_.advances[i];
      } else {
        word += spaces + scratch_.advances[i];
        spaces = 0;
        widest = std::max(widest, word);
      }
    }
    return widest;
  }

  bool placeParagraph(std::u16string_view paragraph, uint32_t offset) {
    GlyphCache& cache = format_.face()->glyphCache();
    if (!engine_.shapeParagraph(paragraph, font_, format_.language(), cache.shapeMemo(),
                                variationId_)) {
      return false;
    }
    const size_t n = paragraph.size();
    scratch_.advances.assign(n, 0);
    scratch_.flags.assign(n + 1, 0);
    float total = 0;
    for (const ShapedGlyph& glyph : engine_.glyphs()) {
      const float advance = advanceOf(glyph);
      if (glyph.cluster < n) scratch_.advances[glyph.cluster] += advance;
      total += advance;
    }
    if (!engine_.markLineBreaks(paragraph, scratch_.flags)) return false;
    // Grapheme boundaries only matter when a single word is wider than the line.
    if (format_.wordWrapping() == WordWrapping::kEmergencyBreak && total > maxWidth_ &&
        widestWord() > maxWidth_ && !engine_.markGraphemeBreaks(paragraph, scratch_.flags)) {
      return false;
    }
    breakLines({scratch_.advances, scratch_.flags, maxWidth_, format_.wordWrapping(),
                format_.fontSize() * kTabStopEms},
               scratch_.lines);
    noteMonotoneRuns();
    for (const LineSpan& span : scratch_.lines) placeLine(span, offset);
    return true;
  }

  // Whether each run's clusters are monotone (rising, or falling when right to left), as HarfBuzz
  // returns them at its default cluster level. A line's glyphs are then one contiguous stretch of
  // the run, found by bisection: scanning the whole run for every line made a long paragraph cost
  // lines x glyphs.
  void noteMonotoneRuns() {
    const std::vector<ShapedGlyph>& glyphs = engine_.glyphs();
    monotone_.clear();
    for (const ShapedRun& run : engine_.runs()) {
      const bool falling = run.level & 1;
      bool monotone = true;
      for (uint32_t g = run.glyphStart; monotone && g + 1 < run.glyphEnd; ++g) {
        monotone = falling ? glyphs[g].cluster >= glyphs[g + 1].cluster
                           : glyphs[g].cluster <= glyphs[g + 1].cluster;
      }
      monotone_.push_back(monotone);
    }
  }

  // The glyphs of run r whose clusters lie in [start, end): exactly those a scan would visit.
  std::pair<uint32_t, uint32_t> glyphsWithin(uint32_t r, uint32_t start, uint32_t end) const {
    const ShapedRun& run = engine_.runs()[r];
    if (!monotone_[r]) return {run.glyphStart, run.glyphEnd};
    const ShapedGlyph* first = engine_.glyphs().data() + run.glyphStart;
    const ShapedGlyph* last = engine_.glyphs().data() + run.glyphEnd;
    const auto base = engine_.glyphs().data();
    if (run.level & 1) {
      // Falling clusters: the stretch starts after those >= end and ends before those < start.
      const auto* from = std::partition_point(
          first, last, [&](const ShapedGlyph& glyph) { return glyph.cluster >= end; });
      const auto* to = std::partition_point(
          from, last, [&](const ShapedGlyph& glyph) { return glyph.cluster >= start; });
      return {uint32_t(from - base), uint32_t(to - base)};
    }
    const auto* from = std::partition_point(
        first, last, [&](const ShapedGlyph& glyph) { return glyph.cluster < start; });
    const auto* to = std::partition_point(
        from, last, [&](const ShapedGlyph& glyph) { return glyph.cluster < end; });
    return {uint32_t(from - base), uint32_t(to - base)};
  }

  // Replaces the advance of each tab on the line with the distance to its tab stop, measured in
  // logical order. A tab resolves to the paragraph's level, so everything logically before it on
  // the line is also visually before it.
  void resolveTabs(const LineSpan& span) {
    const float tabStop = format_.fontSize() * kTabStopEms;
    float x = 0;
    for (uint32_t i = span.start; i < span.contentEnd; ++i) {
      if (scratch_.flags[i] & kTab) scratch_.advances[i] = tabStopAfter(x, tabStop) - x;
      x += scratch_.advances[i];
    }
  }

  void placeLine(const LineSpan& span, uint32_t offset) {
    resolveTabs(span);
    const std::vector<ShapedRun>& runs = engine_.runs();
    scratch_.lineRuns.clear();
    scratch_.lineLevels.clear();
    bool mixed = false;
    for (uint32_t r = 0; r < runs.size(); ++r) {
      if (runs[r].end <= span.start || runs[r].start >= span.contentEnd) continue;
      scratch_.lineRuns.push_back(r);
      scratch_.lineLevels.push_back(runs[r].level);
      mixed = mixed || runs[r].level != 0;
    }
    scratch_.visualOrder.resize(scratch_.lineRuns.size());
    if (mixed) {
      engine_.reorderRuns(scratch_.lineLevels, scratch_.visualOrder);
    } else {
      for (size_t i = 0; i < scratch_.visualOrder.size(); ++i) scratch_.visualOrder[i] = int32_t(i);
    }

    LaidOutLine line;
    line.textStart = offset + span.start;
    line.textEnd = offset + span.contentEnd;
    line.top = top_;
    line.height = lineHeight_;
    line.baseline = top_ + ascent_;
    line.width = span.width;
    line.glyphStart = static_cast<uint32_t>(layout_.glyphs.size());
    const std::vector<ShapedGlyph>& glyphs = engine_.glyphs();
    float pen = 0;
    for (int32_t logical : scratch_.visualOrder) {
      const ShapedRun& run = runs[scratch_.lineRuns[logical]];
      const auto [from, to] = glyphsWithin(scratch_.lineRuns[logical], span.start, span.contentEnd);
      for (uint32_t g = from; g < to; ++g) {
        const ShapedGlyph& glyph = glyphs[g];
        if (glyph.cluster < span.start || glyph.cluster >= span.contentEnd) continue;
        // A tab draws nothing, whatever shaping made of it, and moves the pen once.
        if (scratch_.flags[glyph.cluster] & kTab) {
          if (g == run.glyphStart || glyphs[g - 1].cluster != glyph.cluster) {
            pen += scratch_.advances[glyph.cluster];
          }
          continue;
        }
        // Nothing to draw (a default ignorable, or a space the face has no glyph for), but the
        // advance counts in the width, so it moves the pen as well.
        if (glyph.id == kInvisibleGlyph) {
          pen += advanceOf(glyph);
          continue;
        }
        layout_.glyphs.push_back({glyph.id, pen + float(glyph.xOffset) * unitScale_,
                                  line.baseline - float(glyph.yOffset) * unitScale_});
        pen += advanceOf(glyph);
      }
    }
    line.glyphEnd = static_cast<uint32_t>(layout_.glyphs.size());
    layout_.lines.push_back(line);
    top_ += lineHeight_;
  }

  LayoutEngine& engine_;
  LayoutEngine::Scratch& scratch_;
  const LinuxTextFormat& format_;
  float maxWidth_;
  LinuxTextLayout& layout_;
  float unitScale_ = 0;
  float boldAdvance_ = 0;
  float lineHeight_ = 0;
  float ascent_ = 0;
  float top_ = 0;
  hb_font_t* font_ = nullptr;
  uint32_t variationId_ = 0;
  std::vector<uint8_t> monotone_;  // per run of the paragraph being placed
};

}  // namespace

float designUnitScale(hb_font_t* font, float fontSize) {
  const unsigned upem = hb_face_get_upem(hb_font_get_face(font));
  return upem ? fontSize / float(upem) : 0;
}

bool layOutText(LayoutEngine& engine, std::u16string_view text, const LinuxTextFormat& format,
                float maxWidth, LinuxTextLayout& layout) {
  GlyphCache& cache = format.face()->glyphCache();
  cache.variations().resolve(format.axisValues(), layout.coordinates);
  const uint32_t variationId = cache.variationId(layout.coordinates);
  hb_font_t* font = cache.variations().shapingFont(variationId);
  layout.face = format.face();
  layout.fontSize = format.fontSize();
  layout.simulations = format.simulations();
  layout.lines.clear();
  layout.glyphs.clear();
  return ParagraphPlacer(engine, format, maxWidth, layout).place(text, font, variationId);
}

bool LinuxTextLayout::getMetrics(TextMetrics* metrics) const {
  if (!metrics) return false;
  metrics->lineCount = static_cast<uint32_t>(lines.size());
  metrics->height = 0;
  for (const LaidOutLine& line : lines) metrics->height += line.height;
  return true;
}

}  // namespace kfp::linux_backend
