#include "platform/linux/fonts/font_collection.h"

#include <hb-ot.h>

#include <algorithm>

#include "platform/linux/fonts/font_index.h"
#include "platform/linux/fonts/font_index_names.h"
#include "platform/linux/fonts/font_set.h"
#include "platform/linux/fonts/font_set_ranking.h"

namespace kfp::linux_backend {
namespace {

constexpr hb_ot_name_id_t kLegacyFamilyId = HB_OT_NAME_ID_FONT_FAMILY;              // 1
constexpr hb_ot_name_id_t kTypographicFamilyId = HB_OT_NAME_ID_TYPOGRAPHIC_FAMILY;  // 16
constexpr hb_ot_name_id_t kWwsFamilyId = HB_OT_NAME_ID_WWS_FAMILY;                  // 21

void addFolded(std::vector<std::u16string>& folded, const std::vector<LocalizedName>& names) {
  for (const LocalizedName& name : names) {
    std::u16string key = foldName(name.text);
    if (!key.empty() && std::find(folded.begin(), folded.end(), key) == folded.end()) {
      folded.push_back(std::move(key));
    }
  }
}

}  // namespace

LinuxFontCollection::LinuxFontCollection(std::vector<std::shared_ptr<FaceHandle>> handles,
                                         std::span<const std::shared_ptr<LoadedFace>> faces,
                                         std::span<const FontRecord* const> records)
    : faces_(std::move(handles)) {
  faceNames_.resize(faces_.size());
  for (size_t i = 0; i < faces_.size() && i < faces.size() && i < records.size(); ++i) {
    hb_face_t* face = hb_font_get_face(faces[i]->hbFont());
    std::vector<LocalizedName> wws = readNameTable(face, kWwsFamilyId);
    std::vector<LocalizedName> typographic = readNameTable(face, kTypographicFamilyId);
    std::vector<LocalizedName> legacy = readNameTable(face, kLegacyFamilyId);
    if (legacy.empty()) {
      // Fonts without usable name records (some bitmap formats): fontconfig's reading.
      legacy = records[i]->win32FamilyNames;
      typographic = records[i]->typographicFamilyNames;
    }
    addFolded(faceNames_[i].folded, wws);
    addFolded(faceNames_[i].folded, typographic);
    addFolded(faceNames_[i].folded, legacy);

    std::vector<LocalizedName>& grouping =
        !wws.empty() ? wws : (!typographic.empty() ? typographic : legacy);
    std::u16string key = foldName(preferredName(grouping));
    auto family = std::find_if(families_.begin(), families_.end(),
                               [&](const Family& f) { return f.key == key; });
    if (family == families_.end()) families_.push_back({std::move(key), std::move(grouping)});
  }
}

uint32_t LinuxFontCollection::familyCount() const {
  return static_cast<uint32_t>(families_.size());
}

bool LinuxFontCollection::faceHasName(size_t face, const std::u16string& foldedName) const {
  const std::vector<std::u16string>& names = faceNames_[face].folded;
  return std::find(names.begin(), names.end(), foldedName) != names.end();
}

bool LinuxFontCollection::findFamilyName(std::u16string_view familyName) const {
  std::u16string folded = foldName(familyName);
  for (size_t i = 0; i < faces_.size(); ++i) {
    if (faceHasName(i, folded)) return true;
  }
  return false;
}

std::shared_ptr<const LocalizedStrings> LinuxFontCollection::familyNames(
    uint32_t familyIndex) const {
  if (familyIndex >= families_.size()) return nullptr;
  auto list = std::make_shared<LocalizedStringList>();
  for (const LocalizedName& name : families_[familyIndex].names) list->add(name.locale, name.text);
  return list;
}

std::shared_ptr<FaceHandle> LinuxFontCollection::faceFor(std::u16string_view familyName, int weight,
                                                         int stretch, int style) const {
  std::u16string folded = foldName(familyName);
  std::vector<size_t> candidates;
  for (size_t i = 0; i < faces_.size(); ++i) {
    if (faceHasName(i, folded)) candidates.push_back(i);
  }
  if (candidates.empty()) return nullptr;
  RankRequest request;
  request.weight = weight;
  request.stretch = stretch;
  request.style = style;
  rankFonts(
      candidates, [this](size_t i) -> const FontRecord& { return faces_[i]->record(); }, request);
  return faces_[candidates.front()];
}

std::shared_ptr<LinuxFontCollection> createLinuxFontCollection(FaceStore& store,
                                                               const FontSet& fonts) {
  const auto* set = dynamic_cast<const LinuxFontSet*>(&fonts);
  if (!set) return nullptr;
  std::vector<std::shared_ptr<FaceHandle>> handles;
  std::vector<std::shared_ptr<LoadedFace>> faces;
  std::vector<const FontRecord*> records;
  // Opening a face needs no names: the index is not asked to read name tables (FontIndex).
  for (uint32_t id : set->recordIds()) records.push_back(&set->index().recordWithoutOwnNames(id));
  std::shared_ptr<FaceHandle> sole;
  if (records.size() == 1) {
    sole = store.handle(*records[0]);
    if (!sole) return nullptr;
    if (std::shared_ptr<LinuxFontCollection> known = store.soleCollection(*sole).lock()) {
      return known;
    }
  }
  for (const FontRecord* record : records) {
    std::shared_ptr<FaceHandle> handle = sole ? sole : store.handle(*record);
    std::shared_ptr<LoadedFace> face = handle ? store.open(*handle) : nullptr;
    if (!face) return nullptr;
    handles.push_back(std::move(handle));
    faces.push_back(std::move(face));
  }
  // The open face's name table completes its index record (a face without legacy family names
  // takes fontconfig's from it), sparing the index a second reading of the file.
  for (size_t i = 0; i < records.size(); ++i) {
    set->index().adoptOwnNames(set->recordIds()[i], hb_font_get_face(faces[i]->hbFont()));
  }
  auto collection = std::make_shared<LinuxFontCollection>(std::move(handles), faces, records);
  if (sole) store.soleCollection(*sole) = collection;
  return collection;
}

}  // namespace kfp::linux_backend
