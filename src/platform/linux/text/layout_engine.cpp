#include "platform/linux/text/layout_engine.h"

#include <unicode/uchar.h>

#include "base/utf16.h"
#include "platform/linux/text/line_breaker.h"
#include "platform/linux/text/shape_memo.h"

namespace kfp::linux_backend {
namespace {

// Whether a code unit can introduce right-to-left text or explicit bidi formatting; text without
// any skips ICU's bidi pass and is one left-to-right level.
bool mayNeedBidi(char16_t c) {
  return (c >= 0x0590 && c <= 0x08FF) || (c >= 0xFB1D && c <= 0xFEFF) || isSurrogate(c) ||
         c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

bool neutralScript(hb_script_t script) {
  return script == HB_SCRIPT_COMMON || script == HB_SCRIPT_INHERITED ||
         script == HB_SCRIPT_UNKNOWN || script == HB_SCRIPT_INVALID;
}

// White space that hangs past the end of a line; the no-break spaces are glue, not gaps.
bool isHangingSpace(char16_t c) {
  if (c == u' ' || c == u'\t') return true;
  if (c == 0x00A0 || c == 0x2007 || c == 0x202F) return false;
  return u_charType(c) == U_SPACE_SEPARATOR;
}

// Unicode Cc. The hard breaks among them never reach shaping: they split paragraphs.
bool isControl(uint32_t c) {
  return c < 0x20 || (c >= 0x7F && c < 0xA0);
}

// Controls shape as a zero-width non-joiner: a default-ignorable HarfBuzz hides with zero advance,
// and like the control it neither joins nor ligates across itself.
constexpr hb_codepoint_t kControlStandIn = 0x200C;
// A missing space shapes as a noncharacter: no font maps it, so it is .notdef at .notdef's advance,
// and it is neither a space nor default-ignorable to the shaper.
constexpr hb_codepoint_t kMissingSpaceStandIn = 0xFFFF;

}  // namespace

std::unique_ptr<LayoutEngine> LayoutEngine::create() {
  std::unique_ptr<LayoutEngine> engine(new LayoutEngine());
  UErrorCode status = U_ZERO_ERROR;
  engine->lineBreaks_.reset(ubrk_open(UBRK_LINE, "en_US", nullptr, 0, &status));
  engine->graphemes_.reset(ubrk_open(UBRK_CHARACTER, "en_US", nullptr, 0, &status));
  engine->bidi_.reset(ubidi_openSized(0, 0, &status));
  engine->buffer_.reset(hb_buffer_create());
  if (U_FAILURE(status) || !engine->lineBreaks_ || !engine->graphemes_ || !engine->bidi_ ||
      !hb_buffer_allocation_successful(engine->buffer_.get())) {
    return nullptr;
  }
  return engine;
}

bool LayoutEngine::computeLevels(std::u16string_view paragraph) {
  const auto n = static_cast<int32_t>(paragraph.size());
  levels_.assign(paragraph.size(), 0);
  bool needed = false;
  for (char16_t c : paragraph) needed = needed || mayNeedBidi(c);
  if (!needed) return true;
  UErrorCode status = U_ZERO_ERROR;
  // Paragraph level 0: the left-to-right reading direction of the format.
  ubidi_setPara(bidi_.get(), paragraph.data(), n, 0, nullptr, &status);
  const UBiDiLevel* levels = ubidi_getLevels(bidi_.get(), &status);
  if (U_FAILURE(status) || !levels) return false;
  for (int32_t i = 0; i < n; ++i) levels_[i] = levels[i];
  return true;
}

void LayoutEngine::itemize(std::u16string_view paragraph) {
  runs_.clear();
  runScripts_.clear();
  // Script runs first, on the whole paragraph: common and inherited characters take the script of
  // the text before them, those before any script the first script after them. Bidi levels then
  // split runs, but never take a neutral character out of its script.
  hb_unicode_funcs_t* unicode = hb_unicode_funcs_get_default();
  charScripts_.assign(paragraph.size(), HB_SCRIPT_COMMON);
  hb_script_t current = HB_SCRIPT_COMMON;
  size_t firstScripted = paragraph.size();
  size_t length = 0;
  for (size_t i = 0; i < paragraph.size(); i += length) {
    const hb_script_t s = hb_unicode_script(unicode, codePointAt(paragraph, i, &length));
    if (!neutralScript(s)) {
      current = s;
      if (firstScripted == paragraph.size()) firstScripted = i;
    }
    charScripts_[i] = current;
  }
  if (firstScripted < paragraph.size()) {
    for (size_t i = 0; i < firstScripted; ++i) charScripts_[i] = charScripts_[firstScripted];
  }

  ShapedRun run;
  hb_script_t script = HB_SCRIPT_COMMON;
  for (size_t i = 0; i < paragraph.size(); i += length) {
    codePointAt(paragraph, i, &length);
    const hb_script_t s = charScripts_[i];
    const uint8_t level = levels_[i];
    if (i == 0) {
      run.level = level;
      script = s;
      continue;
    }
    if (level != run.level || s != script) {
      run.end = static_cast<uint32_t>(i);
      runs_.push_back(run);
      runScripts_.push_back(script);
      run.start = static_cast<uint32_t>(i);
      run.level = level;
      script = s;
    }
  }
  if (!paragraph.empty()) {
    run.end = static_cast<uint32_t>(paragraph.size());
    runs_.push_back(run);
    runScripts_.push_back(script);
  }
}

void LayoutEngine::shapeRun(std::u16string_view paragraph, ShapedRun& run, hb_script_t script,
                            hb_font_t* font, hb_language_t language) {
  hb_buffer_t* buffer = buffer_.get();
  hb_buffer_clear_contents(buffer);
  hb_buffer_add_utf16(buffer, reinterpret_cast<const uint16_t*>(paragraph.data()),
                      static_cast<int>(paragraph.size()), run.start, int(run.end - run.start));
  unsigned length = 0;
  hb_glyph_info_t* input = hb_buffer_get_glyph_infos(buffer, &length);
  hb_codepoint_t glyph = 0;
  // HarfBuzz draws a space the font lacks as the space glyph, or without one as the invisible
  // glyph at a fallback width; a face without a space shows .notdef there, as for any character
  // it lacks.
  const bool hasSpace = hb_font_get_nominal_glyph(font, u' ', &glyph);
  for (unsigned i = 0; i < length; ++i) {
    hb_codepoint_t& c = input[i].codepoint;
    if (isControl(c)) {
      c = kControlStandIn;
    } else if (!hasSpace && u_charType(UChar32(c)) == U_SPACE_SEPARATOR &&
               !hb_font_get_nominal_glyph(font, c, &glyph)) {
      c = kMissingSpaceStandIn;
    }
  }
  hb_buffer_set_invisible_glyph(buffer, kInvisibleGlyph);
  hb_buffer_set_direction(buffer, (run.level & 1) ? HB_DIRECTION_RTL : HB_DIRECTION_LTR);
  if (!neutralScript(script)) hb_buffer_set_script(buffer, script);
  hb_buffer_set_language(buffer, language);
  hb_buffer_guess_segment_properties(buffer);
  unsigned flags = HB_BUFFER_FLAG_DEFAULT;
  if (run.start == 0) flags |= HB_BUFFER_FLAG_BOT;
  if (run.end == paragraph.size()) flags |= HB_BUFFER_FLAG_EOT;
  hb_buffer_set_flags(buffer, hb_buffer_flags_t(flags));
  hb_shape(font, buffer, nullptr, 0);

  unsigned count = 0;
  const hb_glyph_info_t* infos = hb_buffer_get_glyph_infos(buffer, &count);
  const hb_glyph_position_t* positions = hb_buffer_get_glyph_positions(buffer, &count);
  run.glyphStart = static_cast<uint32_t>(glyphs_.size());
  for (unsigned i = 0; i < count; ++i) {
    glyphs_.push_back({infos[i].codepoint, infos[i].cluster, positions[i].x_advance,
                       positions[i].x_offset, positions[i].y_offset});
    if (infos[i].cluster < clusterStarts_.size()) clusterStarts_[infos[i].cluster] = 1;
  }
  run.glyphEnd = static_cast<uint32_t>(glyphs_.size());
}

bool LayoutEngine::shapeParagraph(std::u16string_view paragraph, hb_font_t* font,
                                  hb_language_t language, ShapeMemo& memo, uint32_t variationId) {
  if (const ShapedParagraph* known = memo.find(paragraph, variationId, language)) {
    runs_ = known->runs;
    glyphs_ = known->glyphs;
    clusterStarts_ = known->clusterStarts;
    return true;
  }
  glyphs_.clear();
  clusterStarts_.assign(paragraph.size() + 1, 0);
  clusterStarts_[paragraph.size()] = 1;
  if (!computeLevels(paragraph)) return false;
  itemize(paragraph);
  for (size_t i = 0; i < runs_.size(); ++i) {
    shapeRun(paragraph, runs_[i], runScripts_[i], font, language);
  }
  ShapedParagraph& entry = memo.slotFor(paragraph, variationId, language);
  entry.runs = runs_;
  entry.glyphs = glyphs_;
  entry.clusterStarts = clusterStarts_;
  return true;
}

bool LayoutEngine::markLineBreaks(std::u16string_view paragraph, std::vector<uint8_t>& flags) {
  const auto n = static_cast<int32_t>(paragraph.size());
  for (int32_t i = 0; i < n; ++i) {
    if (isHangingSpace(paragraph[i])) flags[i] |= kHangingSpace;
    if (paragraph[i] == u'\t') flags[i] |= kTab;
  }
  if (n == 0) return true;
  if (paragraph != breaksText_) {
    UErrorCode status = U_ZERO_ERROR;
    ubrk_setText(lineBreaks_.get(), paragraph.data(), n, &status);
    breaksText_.clear();
    breakPositions_.clear();
    if (U_FAILURE(status)) return false;
    for (int32_t p = ubrk_first(lineBreaks_.get()); p != UBRK_DONE;
         p = ubrk_next(lineBreaks_.get())) {
      if (p > 0 && p < n) breakPositions_.push_back(p);
    }
    breaksText_.assign(paragraph);
  }
  for (int32_t p : breakPositions_) flags[p] |= kLineBreakBefore;
  return true;
}

bool LayoutEngine::markGraphemeBreaks(std::u16string_view paragraph, std::vector<uint8_t>& flags) {
  const auto n = static_cast<int32_t>(paragraph.size());
  if (n == 0) return true;
  UErrorCode status = U_ZERO_ERROR;
  ubrk_setText(graphemes_.get(), paragraph.data(), n, &status);
  if (U_FAILURE(status)) return false;
  for (int32_t p = ubrk_first(graphemes_.get()); p != UBRK_DONE; p = ubrk_next(graphemes_.get())) {
    if (p > 0 && p < n && clusterStarts_[p]) flags[p] |= kEmergencyBreakBefore;
  }
  return true;
}

void LayoutEngine::reorderRuns(const std::vector<uint8_t>& levels,
                               std::vector<int32_t>& map) const {
  map.resize(levels.size());
  if (levels.empty()) return;
  ubidi_reorderVisual(levels.data(), static_cast<int32_t>(levels.size()), map.data());
}

}  // namespace kfp::linux_backend
