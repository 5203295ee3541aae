#include "platform/linux/gdi/gdi_face_choice.h"

#include <cstdlib>
#include <tuple>

namespace kfp::linux_backend {
namespace {

using NameList = std::vector<LocalizedName> FontRecord::*;

// Legacy (name ID 1) family names are what GDI-style selection knows; the typographic and WWS
// families catch faces that only carry those.
std::span<const uint32_t> familyMembers(const FontIndex& index, std::u16string_view family,
                                        NameList* names) {
  if (auto ids = index.byWin32Family(family); !ids.empty()) {
    *names = &FontRecord::win32FamilyNames;
    return ids;
  }
  if (auto ids = index.byTypographicFamily(family); !ids.empty()) {
    *names = &FontRecord::typographicFamilyNames;
    return ids;
  }
  *names = &FontRecord::wwsFamilyNames;
  return index.byWwsFamily(family);
}

uint32_t closestMember(const FontIndex& index, std::span<const uint32_t> ids, int weight,
                       bool italic) {
  auto rank = [&](uint32_t id) {
    const FontRecord& record = index.record(id);
    const bool slanted = record.style != kStyleNormal;
    // Ties in weight distance go to the heavier face for bold requests, the lighter otherwise.
    const bool wrongSide = weight > kNormalWeight ? record.weight < weight : record.weight > weight;
    return std::make_tuple(slanted != italic, std::abs(record.weight - weight), wrongSide);
  };
  uint32_t best = ids.front();
  for (uint32_t id : ids) {
    if (rank(id) < rank(best)) best = id;
  }
  return best;
}

// The record's own spelling of `family`, else its first name in that list.
std::u16string spelledName(const std::vector<LocalizedName>& names, std::u16string_view family) {
  const std::u16string folded = foldName(family);
  for (const LocalizedName& name : names) {
    if (foldName(name.text) == folded) return name.text;
  }
  return names.empty() ? std::u16string(family) : names.front().text;
}

std::u16string displayFamily(const FontRecord& record) {
  for (const auto* names : {&record.win32FamilyNames, &record.typographicFamilyNames}) {
    for (const LocalizedName& name : *names) {
      if (name.locale == u"en-us") return name.text;
    }
    if (!names->empty()) return names->front().text;
  }
  return {};
}

}  // namespace

std::optional<GdiFaceChoice> chooseGdiFace(const FontIndex& index, std::u16string_view family,
                                           int weight, bool italic) {
  if (family.empty()) return std::nullopt;
  NameList names = nullptr;
  const std::span<const uint32_t> ids = familyMembers(index, family, &names);
  if (ids.empty()) return std::nullopt;
  const uint32_t id = closestMember(index, ids, weight, italic);
  return GdiFaceChoice{id, spelledName(index.record(id).*names, family)};
}

std::optional<GdiFaceChoice> chooseGdiSubstitute(const FontIndex& index,
                                                 const std::vector<std::u16string>& preferred,
                                                 int weight, bool italic) {
  for (const std::u16string& family : preferred) {
    if (auto choice = chooseGdiFace(index, family, weight, italic)) return choice;
  }
  for (uint32_t id = 0; id < index.size(); ++id) {
    if (index.record(id).scalable) return GdiFaceChoice{id, displayFamily(index.record(id))};
  }
  if (index.size() == 0) return std::nullopt;
  return GdiFaceChoice{0, displayFamily(index.record(0))};
}

}  // namespace kfp::linux_backend
