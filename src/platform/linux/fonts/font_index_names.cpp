#include "platform/linux/fonts/font_index_names.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include <algorithm>

#include "platform/linux/fonts/font_index.h"

namespace kfp::linux_backend {
namespace {

const std::u16string kEnglish = u"en-us";

bool isAscii(std::u16string_view text) {
  return std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80; });
}

}  // namespace

std::u16string foldName(std::u16string_view name) {
  std::u16string folded(name);
  if (isAscii(name)) {
    for (char16_t& c : folded) {
      if (c >= u'A' && c <= u'Z') c = char16_t(c + (u'a' - u'A'));
    }
    return folded;
  }
  // Full case folding can lengthen a string (U+00DF folds to "ss"): retry with the needed size.
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = u_strFoldCase(folded.data(), int32_t(folded.size()), name.data(),
                                 int32_t(name.size()), U_FOLD_CASE_DEFAULT, &status);
  if (status == U_BUFFER_OVERFLOW_ERROR) {
    folded.resize(size_t(length));
    status = U_ZERO_ERROR;
    length = u_strFoldCase(folded.data(), length, name.data(), int32_t(name.size()),
                           U_FOLD_CASE_DEFAULT, &status);
  }
  if (U_FAILURE(status)) return std::u16string(name);
  folded.resize(size_t(length));
  return folded;
}

std::u16string localeFromLanguage(std::string_view language) {
  std::u16string locale;
  locale.reserve(language.size());
  for (char c : language) {
    locale.push_back(char16_t((c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c));
  }
  if (locale == u"en") return kEnglish;
  return locale;
}

void addUniqueName(std::vector<LocalizedName>& names, LocalizedName name) {
  for (const LocalizedName& existing : names) {
    if (existing.locale == name.locale && existing.text == name.text) return;
  }
  names.push_back(std::move(name));
}

const std::u16string& preferredName(const std::vector<LocalizedName>& names) {
  static const std::u16string kEmpty;
  for (const LocalizedName& name : names) {
    if (name.locale == kEnglish) return name.text;
  }
  return names.empty() ? kEmpty : names.front().text;
}

std::vector<LocalizedName> readNameTable(hb_face_t* face, hb_ot_name_id_t nameId) {
  std::vector<LocalizedName> names;
  unsigned int entryCount = 0;
  const hb_ot_name_entry_t* entries = hb_ot_name_list_names(face, &entryCount);
  for (unsigned int i = 0; i < entryCount; ++i) {
    if (entries[i].name_id != nameId) continue;
    const char* tag = hb_language_to_string(entries[i].language);
    std::u16string locale = localeFromLanguage(tag ? tag : "");
    // Mac and Windows records of one language repeat the name: keep the first per locale.
    if (std::any_of(names.begin(), names.end(),
                    [&](const LocalizedName& n) { return n.locale == locale; })) {
      continue;
    }
    unsigned int length = hb_ot_name_get_utf16(face, nameId, entries[i].language, nullptr, nullptr);
    if (length == 0) continue;
    std::u16string text(length + 1, u'\0');
    unsigned int capacity = length + 1;
    hb_ot_name_get_utf16(face, nameId, entries[i].language, &capacity,
                         reinterpret_cast<uint16_t*>(text.data()));
    text.resize(capacity);
    names.push_back({std::move(locale), std::move(text)});
  }
  std::stable_partition(names.begin(), names.end(),
                        [](const LocalizedName& n) { return n.locale == kEnglish; });
  return names;
}

void addNameTableNames(hb_face_t* face, FontRecord& record) {
  const std::vector<LocalizedName> legacy = readNameTable(face, HB_OT_NAME_ID_FONT_FAMILY);
  std::vector<LocalizedName> typographic = readNameTable(face, HB_OT_NAME_ID_TYPOGRAPHIC_FAMILY);
  if (typographic.empty()) typographic = legacy;
  std::vector<LocalizedName> wws = readNameTable(face, HB_OT_NAME_ID_WWS_FAMILY);
  if (wws.empty()) wws = typographic;
  for (const LocalizedName& name : typographic) addUniqueName(record.typographicFamilyNames, name);
  for (const LocalizedName& name : wws) addUniqueName(record.wwsFamilyNames, name);
  for (const LocalizedName& name : legacy) addUniqueName(record.win32FamilyNames, name);
  // A named instance's full names are its own, built from its subfamily name.
  if (record.namedInstance != 0) return;
  for (const LocalizedName& name : readNameTable(face, HB_OT_NAME_ID_FULL_NAME)) {
    addUniqueName(record.fullNames, name);
  }
}

}  // namespace kfp::linux_backend
