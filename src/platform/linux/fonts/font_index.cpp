#include "platform/linux/fonts/font_index.h"

#include <algorithm>

#include "platform/linux/fonts/face_name_reader.h"
#include "platform/linux/fonts/font_index_names.h"
#include "platform/linux/fonts/fontconfig_listing.h"

namespace kfp::linux_backend {
namespace {

std::span<const uint32_t> lookUp(
    const std::unordered_map<std::u16string, std::vector<uint32_t>>& map,
    std::u16string_view name) {
  auto it = map.find(foldName(name));
  if (it == map.end()) return {};
  return it->second;
}

void addKey(std::unordered_map<std::u16string, std::vector<uint32_t>>& map,
            std::u16string_view name, uint32_t id) {
  if (name.empty()) return;
  std::vector<uint32_t>& ids = map[foldName(name)];
  // Records are added in id order, so a repeat (same name in two languages) is the last entry.
  if (ids.empty() || ids.back() != id) ids.push_back(id);
}

void addKeys(std::unordered_map<std::u16string, std::vector<uint32_t>>& map,
             const std::vector<LocalizedName>& names, uint32_t id) {
  for (const LocalizedName& name : names) addKey(map, name.text, id);
}

size_t stringBytes(const std::u16string& text) {
  // Short strings live inside the object (small-string optimisation).
  return text.capacity() > 7 ? (text.capacity() + 1) * sizeof(char16_t) : 0;
}

size_t namesBytes(const std::vector<LocalizedName>& names) {
  size_t bytes = names.capacity() * sizeof(LocalizedName);
  for (const LocalizedName& name : names)
    bytes += stringBytes(name.locale) + stringBytes(name.text);
  return bytes;
}

}  // namespace

std::shared_ptr<FontIndex> FontIndex::build() {
  std::optional<InstalledFonts> installed = listInstalledFonts();
  if (!installed) return nullptr;
  return fromRecords(std::move(installed->records), std::move(installed->sansFamilies),
                     std::move(installed->ownNamesPending));
}

std::shared_ptr<FontIndex> FontIndex::fromRecords(std::vector<FontRecord> records,
                                                  std::vector<std::u16string> sansFamilies) {
  return fromRecords(std::move(records), std::move(sansFamilies), {});
}

std::shared_ptr<FontIndex> FontIndex::fromRecords(std::vector<FontRecord> records,
                                                  std::vector<std::u16string> sansFamilies,
                                                  std::vector<bool> ownNamesPending) {
  auto index = std::make_shared<FontIndex>();
  index->records_ = std::move(records);
  index->sansFamilies_ = std::move(sansFamilies);
  index->ownNamesPending_ = std::move(ownNamesPending);
  index->ownNamesPending_.resize(index->records_.size(), false);
  index->pendingRecords_ =
      size_t(std::count(index->ownNamesPending_.begin(), index->ownNamesPending_.end(), true));
  index->addPostScriptNames();
  return index;
}

void FontIndex::addPostScriptNames() {
  for (uint32_t id = 0; id < size(); ++id) addKey(postScript_, records_[id].postScriptName, id);
}

void FontIndex::addOtherNames() const {
  for (uint32_t id = 0; id < size(); ++id) {
    const FontRecord& r = records_[id];
    addKeys(fullName_, r.fullNames, id);
    addKeys(typographic_, r.typographicFamilyNames, id);
    addKeys(wws_, r.wwsFamilyNames, id);
    addKeys(win32_, r.win32FamilyNames, id);
  }
}

std::pair<uint32_t, uint32_t> FontIndex::faceRecords(uint32_t id) const {
  // The records of one face are adjacent (sorted by file, face index and instance).
  const auto sameFace = [this](uint32_t a, uint32_t b) {
    return records_[a].path == records_[b].path && records_[a].faceIndex == records_[b].faceIndex;
  };
  uint32_t first = id, end = id + 1;
  while (first > 0 && sameFace(first - 1, id)) --first;
  while (end < size() && sameFace(end, id)) ++end;
  return {first, end};
}

void FontIndex::markOwnNamesRead(std::pair<uint32_t, uint32_t> records) const {
  for (uint32_t i = records.first; i < records.second; ++i) {
    if (ownNamesPending_[i]) --pendingRecords_;
    ownNamesPending_[i] = false;
  }
}

void FontIndex::readOwnNames(uint32_t id) const {
  const auto [first, end] = faceRecords(id);
  const std::pair<size_t, size_t> group{first, end};
  addOwnNamesOfGroups(records_, {&group, 1}, 1);
  markOwnNamesRead({first, end});
}

void FontIndex::adoptOwnNames(uint32_t id, hb_face_t* face) const {
  if (pendingRecords_ == 0 || !ownNamesPending_[id]) return;
  const auto [first, end] = faceRecords(id);
  for (uint32_t i = first; i < end; ++i) addNameTableNames(face, records_[i]);
  markOwnNamesRead({first, end});
}

void FontIndex::readAllOwnNames() const {
  if (pendingRecords_ == 0) return;
  std::vector<std::pair<size_t, size_t>> groups;
  for (size_t i = 0; i < records_.size(); ++i) {
    if (!ownNamesPending_[i]) continue;
    const bool sameFace = !groups.empty() && groups.back().second == i &&
                          records_[i].path == records_[i - 1].path &&
                          records_[i].faceIndex == records_[i - 1].faceIndex;
    if (sameFace) {
      groups.back().second = i + 1;
    } else {
      groups.push_back({i, i + 1});
    }
  }
  // On the calling thread: this may run after confinement, where no thread may be started.
  addOwnNamesOfGroups(records_, groups, 1);
  std::fill(ownNamesPending_.begin(), ownNamesPending_.end(), false);
  pendingRecords_ = 0;
}

void FontIndex::completeNameMaps() const {
  if (otherNamesMapped_) return;
  readAllOwnNames();
  addOtherNames();
  otherNamesMapped_ = true;
}

std::span<const uint32_t> FontIndex::byPostScriptName(std::u16string_view name) const {
  return lookUp(postScript_, name);
}
std::span<const uint32_t> FontIndex::byFullName(std::u16string_view name) const {
  completeNameMaps();
  return lookUp(fullName_, name);
}
std::span<const uint32_t> FontIndex::byTypographicFamily(std::u16string_view name) const {
  completeNameMaps();
  return lookUp(typographic_, name);
}
std::span<const uint32_t> FontIndex::byWwsFamily(std::u16string_view name) const {
  completeNameMaps();
  return lookUp(wws_, name);
}
std::span<const uint32_t> FontIndex::byWin32Family(std::u16string_view name) const {
  completeNameMaps();
  return lookUp(win32_, name);
}

size_t FontIndex::memoryBytes() const {
  size_t bytes = records_.capacity() * sizeof(FontRecord);
  bytes += sansFamilies_.capacity() * sizeof(std::u16string);
  for (const std::u16string& family : sansFamilies_) bytes += stringBytes(family);
  for (const FontRecord& r : records_) {
    bytes += r.path.capacity() > 15 ? r.path.capacity() + 1 : 0;
    bytes += r.axes.capacity() * sizeof(AxisRange) + r.coordinates.capacity() * sizeof(AxisValue);
    bytes += stringBytes(r.postScriptName) + namesBytes(r.fullNames) +
             namesBytes(r.typographicFamilyNames) + namesBytes(r.wwsFamilyNames) +
             namesBytes(r.win32FamilyNames);
  }
  const NameMap* const maps[] = {&postScript_, &fullName_, &typographic_, &wws_, &win32_};
  for (const NameMap* map : maps) {
    // Buckets plus one node (key, vector, hash, next) per name.
    bytes += map->bucket_count() * sizeof(void*);
    for (const auto& [key, ids] : *map) {
      bytes += sizeof(NameMap::value_type) + 2 * sizeof(void*) + stringBytes(key) +
               ids.capacity() * sizeof(uint32_t);
    }
  }
  return bytes;
}

}  // namespace kfp::linux_backend
