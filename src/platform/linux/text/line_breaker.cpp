#include "platform/linux/text/line_breaker.h"

#include <cmath>

namespace kfp::linux_backend {
namespace {

// Absorbs rounding in summed advances so that text measured to exactly the width still fits.
constexpr float kWidthTolerance = 1.0f / 1024;

class GreedyBreaker {
 public:
  GreedyBreaker(const LineBreakInput& input, std::vector<LineSpan>& lines)
      : in_(input), lines_(lines), n_(static_cast<uint32_t>(input.advances.size())) {}

  void run() {
    lines_.clear();
    uint32_t lineStart = 0;
    uint32_t pos = 0;  // end of what the current line holds so far
    float lineWidth = 0;
    uint32_t opportunity = nextOpportunity(0);
    while (pos < n_) {
      const uint32_t contentEnd = trimHanging(pos, opportunity);
      if (in_.wrapping == WordWrapping::kNoWrap || fits(extend(lineWidth, pos, contentEnd))) {
        lineWidth = extend(lineWidth, pos, opportunity);
        pos = opportunity;
        opportunity = nextOpportunity(pos);
        continue;
      }
      if (pos > lineStart) {
        emit(lineStart, pos);
        lineStart = pos;
        lineWidth = 0;
        continue;
      }
      if (in_.wrapping != WordWrapping::kEmergencyBreak) {
        lineWidth = extend(lineWidth, pos, opportunity);
        pos = opportunity;
        opportunity = nextOpportunity(pos);
        continue;
      }
      const uint32_t split = emergencySplit(lineStart, contentEnd);
      // A split at the content end keeps the word whole: its trailing spaces hang on this line
      // rather than forming one of their own.
      const uint32_t end = split == contentEnd ? opportunity : split;
      emit(lineStart, end);
      lineStart = pos = end;
      lineWidth = 0;
      if (pos == opportunity) opportunity = nextOpportunity(pos);
    }
    if (lineStart < n_ || lines_.empty()) emit(lineStart, n_);
  }

 private:
  bool fits(float w) const { return w <= in_.maxWidth + kWidthTolerance; }

  uint32_t nextOpportunity(uint32_t from) const {
    for (uint32_t i = from + 1; i < n_; ++i) {
      if (in_.flags[i] & kLineBreakBefore) return i;
    }
    return n_;
  }

  uint32_t trimHanging(uint32_t start, uint32_t end) const {
    while (end > start && (in_.flags[end - 1] & kHangingSpace)) --end;
    return end;
  }

  // The pen after code unit i when it starts at x; tabs depend on where they start.
  float step(float x, uint32_t i) const {
    return (in_.flags[i] & kTab) ? tabStopAfter(x, in_.tabStop) : x + in_.advances[i];
  }

  // The pen after [start, end) when the line so far is x wide.
  float extend(float x, uint32_t start, uint32_t end) const {
    for (uint32_t i = start; i < end; ++i) x = step(x, i);
    return x;
  }

  // The last emergency boundary after start whose prefix fits, else the first one (one cluster).
  uint32_t emergencySplit(uint32_t start, uint32_t contentEnd) const {
    uint32_t best = 0;
    float w = 0;
    for (uint32_t i = start + 1; i <= contentEnd; ++i) {
      w = step(w, i - 1);
      if (!(in_.flags[i] & kEmergencyBreakBefore) && i != contentEnd) continue;
      if (!fits(w)) break;
      best = i;
    }
    if (best != 0) return best;
    for (uint32_t i = start + 1; i < contentEnd; ++i) {
      if (in_.flags[i] & kEmergencyBreakBefore) return i;
    }
    return contentEnd > start ? contentEnd : n_;
  }

  void emit(uint32_t start, uint32_t end) {
    const uint32_t contentEnd = trimHanging(start, end);
    lines_.push_back({start, end, contentEnd, extend(0, start, contentEnd)});
  }

  const LineBreakInput& in_;
  std::vector<LineSpan>& lines_;
  uint32_t n_;
};

}  // namespace

float tabStopAfter(float x, float tabStop) {
  if (!(tabStop > 0)) return x;
  // A pen that rounding left a hair short of a stop is on it.
  return (std::floor((x + kWidthTolerance) / tabStop) + 1) * tabStop;
}

void breakLines(const LineBreakInput& input, std::vector<LineSpan>& lines) {
  GreedyBreaker(input, lines).run();
}

void splitParagraphs(std::u16string_view text, std::vector<TextRange>& paragraphs) {
  paragraphs.clear();
  const auto length = static_cast<uint32_t>(text.size());
  uint32_t start = 0;
  for (uint32_t i = 0; i < length; ++i) {
    const char16_t c = text[i];
    if (c != u'\n' && c != u'\r' && c != u'\u0085' && c != u'\u2028' && c != u'\u2029') continue;
    paragraphs.push_back({start, i});
    if (c == u'\r' && i + 1 < length && text[i + 1] == u'\n') ++i;
    start = i + 1;
  }
  paragraphs.push_back({start, length});
}

}  // namespace kfp::linux_backend
