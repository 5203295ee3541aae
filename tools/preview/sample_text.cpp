#include "sample_text.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace kfp::preview {
namespace {

struct ScriptSample {
  const char* name;
  const char* language;  // a fontconfig tag that faces made for the script list
  const char* text;
};

// Short phrases, each in one script, with the language fontconfig ties the script to.
constexpr ScriptSample kSamples[] = {
    {"Cyrillic", "ru", "Съешь же ещё этих мягких булок"},
    {"Greek", "el", "Ξεσκεπάζω την ψυχοφθόρα βδελυγμία"},
    {"Arabic", "ar", "نص حكيم له سر قاطع وذو شأن عظيم"},
    {"Hebrew", "he", "דג סקרן שט בים מאוכזב"},
    {"Devanagari", "hi", "ऋषियों को सताने वाले दुष्ट राक्षसों"},
    {"Bengali", "bn", "বাংলা লিপি নমুনা"},
    {"Gurmukhi", "pa", "ਪੰਜਾਬੀ ਗੁਰਮੁਖੀ ਲਿਪੀ"},
    {"Gujarati", "gu", "ગુજરાતી લિપિ નમૂનો"},
    {"Oriya", "or", "ଓଡ଼ିଆ ଲିପି"},
    {"Tamil", "ta", "தமிழ் எழுத்து மாதிரி"},
    {"Telugu", "te", "తెలుగు లిపి నమూనా"},
    {"Kannada", "kn", "ಕನ್ನಡ ಲಿಪಿ ಮಾದರಿ"},
    {"Malayalam", "ml", "മലയാളം ലിപി മാതൃക"},
    {"Sinhala", "si", "සිංහල අක්ෂර මාලාව"},
    {"Thai", "th", "เป็นมนุษย์สุดประเสริฐเลิศคุณค่า"},
    {"Lao", "lo", "ພາສາລາວ ຕົວອັກສອນ"},
    {"Tibetan", "bo", "བོད་ཀྱི་ཡི་གེ་"},
    {"Myanmar", "my", "မြန်မာ အက္ခရာ"},
    {"Khmer", "km", "អក្សរខ្មែរ គំរូ"},
    {"Georgian", "ka", "ქართული დამწერლობა"},
    {"Armenian", "hy", "Հայերեն այբուբեն"},
    {"Ethiopic", "am", "ሰላም ለዓለም"},
    {"Thaana", "dv", "ދިވެހި ބަސް"},
    {"Japanese", "ja", "いろはにほへと 日本語の見本"},
    {"Chinese", "zh-cn", "中文字体样本 永和九年"},
    {"Korean", "ko", "다람쥐 헌 쳇바퀴에 타고파"},
};

// Decodes one UTF-8 sequence; false at invalid input.
bool nextCodePoint(std::string_view& text, uint32_t& out) {
  const auto b = static_cast<unsigned char>(text[0]);
  const int length = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
  if (length == 0 || text.size() < size_t(length)) return false;
  out = length == 1 ? b : b & (0x7F >> length);
  for (int i = 1; i < length; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if ((c & 0xC0) != 0x80) return false;
    out = out << 6 | (c & 0x3F);
  }
  text.remove_prefix(size_t(length));
  return true;
}

void appendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out.push_back(char(c));
  } else if (c < 0x800) {
    out.push_back(char(0xC0 | c >> 6));
    out.push_back(char(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(char(0xE0 | c >> 12));
    out.push_back(char(0x80 | (c >> 6 & 0x3F)));
    out.push_back(char(0x80 | (c & 0x3F)));
  } else {
    out.push_back(char(0xF0 | c >> 18));
    out.push_back(char(0x80 | (c >> 12 & 0x3F)));
    out.push_back(char(0x80 | (c >> 6 & 0x3F)));
    out.push_back(char(0x80 | (c & 0x3F)));
  }
}

// Punctuation, spaces, marks for layout and the dotted circle that many faces of any script carry.
bool isCommonFiller(uint32_t c) {
  return c <= 0xFF || (c >= 0x2000 && c <= 0x206F) || c == 0x25CC || (c >= 0xFE00 && c <= 0xFE0F) ||
         (c >= 0xD800 && c <= 0xDFFF) || (c >= 0xFFF0 && c <= 0xFFFF);
}

// A face that fits no sample: a row of the characters of its largest range outside the common
// ones, so that whatever it is for shows.
Sample charactersOf(const FontCoverage& coverage) {
  std::pair<uint32_t, uint32_t> best{0, 0};
  uint32_t bestSize = 0;
  for (auto [first, last] : coverage.ranges) {
    while (first <= last && isCommonFiller(first)) ++first;
    if (first > last || isCommonFiller(last)) continue;
    if (last - first + 1 > bestSize) best = {first, last}, bestSize = last - first + 1;
  }
  if (bestSize == 0) return {};
  Sample sample;
  for (uint32_t c = best.first, n = 0; c <= best.second && n < 16; ++c, ++n) {
    appendUtf8(sample.text, c);
  }
  char name[64];
  std::snprintf(name, sizeof name, "characters U+%04X-U+%04X", best.first,
                std::min(best.second, best.first + 15));
  sample.name = name;
  return sample;
}

}  // namespace

bool FontCoverage::covers(uint32_t codePoint) const {
  auto it = std::upper_bound(ranges.begin(), ranges.end(), codePoint,
                             [](uint32_t c, const auto& range) { return c < range.first; });
  return it != ranges.begin() && codePoint <= std::prev(it)->second;
}

bool FontCoverage::coversText(std::string_view utf8) const {
  while (!utf8.empty()) {
    uint32_t c = 0;
    if (!nextCodePoint(utf8, c)) return false;
    if (c != ' ' && !covers(c)) return false;
  }
  return true;
}

bool FontCoverage::supportsLanguage(std::string_view tag) const {
  return std::find(languages.begin(), languages.end(), tag) != languages.end();
}

std::vector<std::pair<uint32_t, uint32_t>> parseCharset(std::string_view text) {
  std::vector<std::pair<uint32_t, uint32_t>> ranges;
  std::string token;
  auto flush = [&]() -> bool {
    if (token.empty()) return true;
    const size_t dash = token.find('-');
    char* end = nullptr;
    const unsigned long first = std::strtoul(token.c_str(), &end, 16);
    unsigned long last = first;
    if (dash != std::string::npos) last = std::strtoul(token.c_str() + dash + 1, &end, 16);
    const bool ok = end == token.c_str() + token.size() && first <= last && last <= 0x10FFFF;
    token.clear();
    if (!ok) return false;
    ranges.emplace_back(uint32_t(first), uint32_t(last));
    return true;
  };
  for (char c : text) {
    if (c == ' ') {
      if (!flush()) return {};
    } else {
      token.push_back(c);
    }
  }
  if (!flush()) return {};
  std::sort(ranges.begin(), ranges.end());
  return ranges;
}

std::vector<std::string> parseLanguages(std::string_view text) {
  std::vector<std::string> tags;
  while (!text.empty()) {
    const size_t bar = text.find('|');
    if (bar != 0) tags.emplace_back(text.substr(0, bar));
    if (bar == std::string_view::npos) break;
    text.remove_prefix(bar + 1);
  }
  return tags;
}

Sample chooseSample(const FontCoverage& coverage, const std::string& preferred) {
  const bool coversPreferred = coverage.coversText(preferred);
  if (coversPreferred && coverage.supportsLanguage("en")) return {preferred, "Latin"};
  for (const auto& sample : kSamples) {
    if (coverage.supportsLanguage(sample.language) && coverage.coversText(sample.text)) {
      return {sample.text, sample.name};
    }
  }
  if (coversPreferred) return {preferred, "Latin"};
  for (const auto& sample : kSamples) {
    if (coverage.coversText(sample.text)) return {sample.text, sample.name};
  }
  Sample characters = charactersOf(coverage);
  if (!characters.text.empty()) return characters;
  return {preferred, "Latin, not covered"};
}

}  // namespace kfp::preview
