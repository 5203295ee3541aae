#pragma once
// The sample text a face is shown with: the caller's text when the face is made for it, else a
// text in a script the face covers, so that a face for Devanagari or Tibetan shows that script
// instead of missing-glyph boxes.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kfp::preview {

// What fontconfig says a face covers: its character set and the languages it supports.
struct FontCoverage {
  std::vector<std::pair<uint32_t, uint32_t>> ranges;  // inclusive, ascending
  std::vector<std::string> languages;                 // fontconfig language tags

  bool covers(uint32_t codePoint) const;
  // Every code point of the UTF-8 text except spaces; false for invalid UTF-8.
  bool coversText(std::string_view utf8) const;
  bool supportsLanguage(std::string_view tag) const;
};

// fontconfig's charset text: hexadecimal code points and ranges ("20-7e a0 100-17f"). Empty when
// it does not read as one.
std::vector<std::pair<uint32_t, uint32_t>> parseCharset(std::string_view text);
// fontconfig's language set text: tags separated by '|'.
std::vector<std::string> parseLanguages(std::string_view text);

struct Sample {
  std::string text;
  std::string name;  // what the label says about the sample: a script, or the characters used
};

// `preferred`: the caller's text, shown whenever the face covers it and supports English (a face
// made for Latin), or covers it and nothing fits better.
Sample chooseSample(const FontCoverage& coverage, const std::string& preferred);

}  // namespace kfp::preview
