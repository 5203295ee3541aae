#include <string>

#include "fonts/descriptor_parser.h"

namespace kfp {
namespace {

struct Keyword {
  std::u16string_view text;
  int value;
};

// Order matters: the first keyword found decides ("semibold" before "bold", "semicondensed"
// before "condensed").
constexpr Keyword kWeightKeywords[] = {
    {u"thin", 100},      {u"extralight", 200}, {u"ultralight", 200}, {u"semilight", 350},
    {u"light", 300},     {u"medium", 500},     {u"semibold", 600},   {u"demibold", 600},
    {u"extrabold", 800}, {u"ultrabold", 800},  {u"bold", 700},       {u"black", 900},
    {u"heavy", 900},
};

constexpr Keyword kStretchKeywords[] = {
    {u"ultracondensed", 1}, {u"extracondensed", 2}, {u"semicondensed", 4}, {u"condensed", 3},
    {u"ultraexpanded", 9},  {u"extraexpanded", 8},  {u"semiexpanded", 6},  {u"expanded", 7},
};

constexpr Keyword kStyleKeywords[] = {{u"italic", kStyleItalic}, {u"oblique", kStyleOblique}};

std::u16string asciiLower(std::u16string_view text) {
  std::u16string lower(text);
  for (char16_t& c : lower) {
    if (c >= u'A' && c <= u'Z') c = char16_t(c + (u'a' - u'A'));
  }
  return lower;
}

template <size_t N>
int firstKeyword(std::u16string_view styleName, const Keyword (&keywords)[N], int fallback) {
  const std::u16string lower = asciiLower(styleName);
  for (const Keyword& keyword : keywords) {
    if (lower.find(keyword.text) != std::u16string::npos) return keyword.value;
  }
  return fallback;
}

}  // namespace

int weightFromStyleName(std::u16string_view styleName) {
  return firstKeyword(styleName, kWeightKeywords, kNormalWeight);
}

int stretchFromStyleName(std::u16string_view styleName) {
  return firstKeyword(styleName, kStretchKeywords, kNormalStretch);
}

int styleFromStyleName(std::u16string_view styleName) {
  return firstKeyword(styleName, kStyleKeywords, kStyleNormal);
}

}  // namespace kfp
