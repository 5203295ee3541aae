#include <algorithm>
#include <climits>
#include <cmath>

#include "base/utf16.h"
#include "layout/gdi_layout.h"

namespace kfp {
namespace {

bool isParagraphBreak(char16_t c) {
  return c == u'\r' || c == u'\n';
}

// Breaks one paragraph [b, pend) into lines, appending them to out.
bool breakParagraph(GdiDeviceContext& dc, std::u16string_view text, size_t start, size_t end,
                    int32_t maxWidthPx, std::vector<GdiLine>& out) {
  if (start == end) {
    out.push_back({start, 0});
    return true;
  }
  while (start < end) {
    const size_t remaining = end - start;
    int fitUnits = 0;
    const int runLength = static_cast<int>(std::min<size_t>(remaining, INT_MAX));
    if (!dc.getTextExtentExPoint(text.data() + start, runLength, maxWidthPx, &fitUnits))
      return false;
    // At least one code unit per line, so the walk always advances.
    size_t lineUnits = std::min(remaining, static_cast<size_t>(std::max(1, fitUnits)));
    // Keep a surrogate pair together unless it alone is the line.
    if (lineUnits < remaining && lineUnits > 1 && isLowSurrogate(text[start + lineUnits]) &&
        isHighSurrogate(text[start + lineUnits - 1])) {
      --lineUnits;
    }

    size_t lineLength = lineUnits;
    size_t advance = lineUnits;
    if (lineUnits < remaining) {
      // Break at the rightmost whitespace within what fits; the unit just beyond is not looked
      // at, so a word ending exactly at the limit moves down when an earlier break exists.
      for (size_t at = lineUnits; at-- > 1;) {
        if (isGdiWhitespace(text[start + at])) {
          lineLength = at;
          advance = at + 1;
          break;
        }
      }
    }
    out.push_back({start, lineLength});
    start += advance;
    // Whitespace after a break belongs to no line.
    while (start < end && isGdiWhitespace(text[start])) ++start;
  }
  return true;
}

}  // namespace

bool isGdiWhitespace(char16_t c) {
  if (c <= 0x00FF) {
    return (c >= 0x0009 && c <= 0x000D) || c == 0x0020 || c == 0x0085 || c == 0x00A0;
  }
  // The Unicode White_Space property above Latin-1.
  return c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

bool breakGdiLines(GdiDeviceContext& dc, std::u16string_view text, int32_t maxWidthPx,
                   GdiLines* out) {
  GdiTextMetrics metrics;
  if (!dc.getTextMetrics(&metrics)) return false;
  GdiLines result;
  const int64_t pitch = int64_t{metrics.height} + metrics.externalLeading;
  result.lineHeight = static_cast<int32_t>(std::clamp<int64_t>(pitch, 1, INT32_MAX));

  if (text.empty()) {
    result.lines.push_back({0, 0});
    *out = std::move(result);
    return true;
  }

  size_t paragraphStart = 0;
  while (true) {
    const auto found = std::find_if(text.begin() + paragraphStart, text.end(), isParagraphBreak);
    const size_t paragraphEnd = static_cast<size_t>(found - text.begin());
    if (!breakParagraph(dc, text, paragraphStart, paragraphEnd, maxWidthPx, result.lines))
      return false;
    if (paragraphEnd == text.size()) break;
    const bool crlf = text[paragraphEnd] == u'\r' && paragraphEnd + 1 < text.size() &&
                      text[paragraphEnd + 1] == u'\n';
    paragraphStart = paragraphEnd + (crlf ? 2 : 1);
    // A break at the very end of the text starts no further line.
    if (paragraphStart == text.size()) break;
  }
  *out = std::move(result);
  return true;
}

}  // namespace kfp
