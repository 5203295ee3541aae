#include "platform/font_set.h"

namespace kfp {
namespace {

char16_t asciiLower(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c;
}

bool equalsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (asciiLower(a[i]) != asciiLower(b[i])) return false;
  }
  return true;
}

}  // namespace

bool LocalizedStringList::findLocaleName(std::u16string_view locale, uint32_t* index) const {
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (equalsIgnoringAsciiCase(entries_[i].locale, locale)) {
      *index = static_cast<uint32_t>(i);
      return true;
    }
  }
  return false;
}

bool LocalizedStringList::getString(uint32_t index, std::u16string* out) const {
  if (index >= entries_.size()) return false;
  *out = entries_[index].text;
  return true;
}

}  // namespace kfp
