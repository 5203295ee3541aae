#pragma once
// The installed faces as fontconfig lists them, turned into font records.

#include <optional>
#include <string>
#include <vector>

#include "platform/linux/fonts/font_record.h"

namespace kfp::linux_backend {

struct InstalledFonts {
  // Every face and named instance, in path order.
  std::vector<FontRecord> records;
  // The families the configuration substitutes for "sans-serif", best first.
  std::vector<std::u16string> sansFamilies;
  // Per record: whether the names of its own name table are still to be read.
  std::vector<bool> ownNamesPending;
};

// What a private fontconfig configuration lists, read while that configuration is loaded (the only
// time it is, with its warnings kept off standard error); variable files are opened once each for
// their axes. nullopt when fontconfig cannot be initialised.
std::optional<InstalledFonts> listInstalledFonts();

// fontconfig merges name IDs 21, 16 and 1 into one family list, in that order within a language,
// without saying which is which, and drops repeats. Per language we read: one name is all three
// kinds; two names are the typographic family (also the WWS one) then the legacy one; three or more
// are WWS, typographic, and last the legacy one. A font whose WWS name differs while its ID 16 is
// missing or equals ID 1 is read as typographic-and-legacy; the collection's name-table lookup
// sees the exact IDs.
void assignFamilyKinds(const std::vector<LocalizedName>& fontconfigFamilies, FontRecord& record);

// The font's 1..999 weight, 1..9 stretch and 0..2 style from fontconfig's scales.
int weightFromFontconfig(double fcWeight);
int stretchFromFontconfig(double fcWidth);
int styleFromFontconfig(int fcSlant);

}  // namespace kfp::linux_backend
