#pragma once
// The steps of font lookup, exposed so that each can be exercised on its own.

#include <string>
#include <string_view>

#include "fonts/registered_font.h"
#include "fonts/resolved_font.h"
#include "platform/font_set.h"

namespace kfp {

class PlatformServices;

// Matches one property of the registered font against the installed fonts and adopts the best
// match. False when the value is empty, nothing matched or the adoption failed.
bool matchFontProperty(const PlatformServices& platform, const RegisteredFont& font,
                       FontPropertyId id, std::u16string_view value, ResolvedFont& entry);

// Builds a one-font collection from the best font of a match and chooses the family name to lay
// out with. An empty match fails without an error; a collection or family-name failure records
// its code in the entry. Success fills the entry and clears any earlier code.
bool adoptMatchedFonts(const PlatformServices& platform, const RegisteredFont& font,
                       const FontSet& matched, ResolvedFont& entry);

// The index of the matched font to use: see fonts/match_ranking.h. 0 for a single font or when the
// set cannot report its fonts' weight, stretch and style.
uint32_t bestMatchedFont(const RegisteredFont& font, const FontSet& matched);

// The "en-us" string of the list, else its first; empty without a list or when reading fails.
std::u16string pickLocalizedString(const LocalizedStrings* strings);

}  // namespace kfp
