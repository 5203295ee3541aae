#pragma once
// Name helpers shared by the font index and font collections: locale tags, UTF-8 names, and
// name-table strings read with HarfBuzz.

#include <hb-ot.h>
#include <hb.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/fonts/font_record.h"

namespace kfp::linux_backend {

// A locale tag as the core expects it: lower case, and plain "en" widened to "en-us" so that the
// core's en-us preference finds English names.
std::u16string localeFromLanguage(std::string_view language);

// Every language's string of one name-table entry, one per locale, English first.
std::vector<LocalizedName> readNameTable(hb_face_t* face, hb_ot_name_id_t nameId);

// Adds the face's own family names (name IDs 16, 21 and 1, every language) and, for a face that is
// not a named instance, its full names (ID 4) to the record. fontconfig's listing keeps only one
// of two family names that differ by blanks alone ("Noto Sans MeeteiMayek" and "Noto Sans Meetei
// Mayek"), so the index would not find the other.
void addNameTableNames(hb_face_t* face, FontRecord& record);

// Appends `name` unless the list holds the same locale and text already.
void addUniqueName(std::vector<LocalizedName>& names, LocalizedName name);

// The English text of a list, else its first text, else empty.
const std::u16string& preferredName(const std::vector<LocalizedName>& names);

}  // namespace kfp::linux_backend
