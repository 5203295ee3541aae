#pragma once
// Splitting a text into paragraphs at hard line breaks.

#include <cstdint>
#include <string_view>
#include <vector>

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

}  // namespace kfp::linux_backend
