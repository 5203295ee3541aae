#include "platform/linux/fonts/font_index.h"

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
  return fromRecords(std::move(installed->records), std::move(installed->sansFamilies));
}

std::shared_ptr<FontIndex> FontIndex::fromRecords(std::vector<FontRecord> records,
                                                  std::vector<std::u16string> sansFamilies) {
  auto index = std::make_shared<FontIndex>();
  index->records_ = std::move(records);
  index->sansFamilies_ = std::move(sansFamilies);
  index->addNames();
  return index;
}

void FontIndex::addNames() {
  for (uint32_t id = 0; id < size(); ++id) {
    const FontRecord& r = records_[id];
    addKey(postScript_, r.postScriptName, id);
    addKeys(fullName_, r.fullNames, id);
    addKeys(typographic_, r.typographicFamilyNames, id);
    addKeys(wws_, r.wwsFamilyNames, id);
    addKeys(win32_, r.win32FamilyNames, id);
  }
}

std::span<const uint32_t> FontIndex::byPostScriptName(std::u16string_view name) const {
  return lookUp(postScript_, name);
}
std::span<const uint32_t> FontIndex::byFullName(std::u16string_view name) const {
  return lookUp(fullName_, name);
}
std::span<const uint32_t> FontIndex::byTypographicFamily(std::u16string_view name) const {
  return lookUp(typographic_, name);
}
std::span<const uint32_t> FontIndex::byWwsFamily(std::u16string_view name) const {
  return lookUp(wws_, name);
}
std::span<const uint32_t> FontIndex::byWin32Family(std::u16string_view name) const {
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
  for (const NameMap* map : {&postScript_, &fullName_, &typographic_, &wws_, &win32_}) {
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
