#include "platform/linux/text/hard_breaks.h"

namespace kfp::linux_backend {

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
