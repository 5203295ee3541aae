#pragma once
// Which installed face the GDI-style backend selects for a requested family, weight and slant.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/fonts/font_index.h"

namespace kfp::linux_backend {

struct GdiFaceChoice {
  uint32_t recordId = 0;
  std::u16string familyName;  // the selected face's family name, as the face spells it
};

// The face of that family (bitmap strikes included) closest in slant, then weight; nullopt when no
// installed family has the name.
std::optional<GdiFaceChoice> chooseGdiFace(const FontIndex& index, std::u16string_view family,
                                           int weight, bool italic);

// What the backend selects instead of a family it does not have: the first of the preferred
// families that is installed, else the first scalable face; nullopt for an empty index.
std::optional<GdiFaceChoice> chooseGdiSubstitute(const FontIndex& index,
                                                 const std::vector<std::u16string>& preferred,
                                                 int weight, bool italic);

}  // namespace kfp::linux_backend
