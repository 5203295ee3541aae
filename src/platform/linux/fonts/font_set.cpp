#include "platform/linux/fonts/font_set.h"

#include <algorithm>
#include <string>

#include "platform/linux/fonts/font_set_ranking.h"

namespace kfp::linux_backend {
namespace {

std::shared_ptr<const LocalizedStrings> toLocalizedStrings(
    const std::vector<LocalizedName>& names) {
  if (names.empty()) return nullptr;
  auto list = std::make_shared<LocalizedStringList>();
  for (const LocalizedName& name : names) list->add(name.locale, name.text);
  return list;
}

// Numeric properties are reported as the platform does: one decimal string, no locale.
std::shared_ptr<const LocalizedStrings> decimalValue(int value) {
  std::u16string text;
  for (char c : std::to_string(value)) text.push_back(char16_t(c));
  return std::make_shared<LocalizedStringList>(
      std::vector<LocalizedStringList::Entry>{{u"", std::move(text)}});
}

}  // namespace

LinuxFontSet::LinuxFontSet(std::shared_ptr<const FontIndex> index, std::vector<uint32_t> ids)
    : index_(std::move(index)), ids_(std::move(ids)) {
  if (!std::is_sorted(ids_.begin(), ids_.end())) {
    sortedIds_ = ids_;
    std::sort(sortedIds_.begin(), sortedIds_.end());
  }
}

std::shared_ptr<LinuxFontSet> LinuxFontSet::scalableFonts(std::shared_ptr<const FontIndex> index) {
  std::vector<uint32_t> ids;
  ids.reserve(index->size());
  for (uint32_t id = 0; id < index->size(); ++id) {
    if (index->recordWithoutOwnNames(id).scalable) ids.push_back(id);
  }
  return std::make_shared<LinuxFontSet>(std::move(index), std::move(ids));
}

bool LinuxFontSet::contains(uint32_t recordId) const {
  const std::vector<uint32_t>& sorted = sortedIds_.empty() ? ids_ : sortedIds_;
  return std::binary_search(sorted.begin(), sorted.end(), recordId);
}

std::vector<uint32_t> LinuxFontSet::fontsNamed(FontPropertyId id, std::u16string_view name) const {
  std::span<const uint32_t> found;
  switch (id) {
    case FontPropertyId::kPostScriptName:
      found = index_->byPostScriptName(name);
      break;
    case FontPropertyId::kFullName:
      found = index_->byFullName(name);
      break;
    case FontPropertyId::kTypographicFamilyName:
      found = index_->byTypographicFamily(name);
      break;
    case FontPropertyId::kWeightStretchStyleFamilyName:
      found = index_->byWwsFamily(name);
      break;
    case FontPropertyId::kWin32FamilyName:
      found = index_->byWin32Family(name);
      break;
    case FontPropertyId::kWeight:
    case FontPropertyId::kStretch:
    case FontPropertyId::kStyle:
      break;  // not matchable
  }
  std::vector<uint32_t> ids;
  for (uint32_t recordId : found) {
    if (contains(recordId)) ids.push_back(recordId);
  }
  return ids;
}

FontSetRef LinuxFontSet::matchProperty(const FontProperty& property) const {
  return matchProperty(property, {});
}

FontSetRef LinuxFontSet::matchProperty(const FontProperty& property,
                                       std::span<const AxisValue> axisValues) const {
  std::vector<uint32_t> ids = fontsNamed(property.id, property.value);
  rankFonts(
      ids, [this](uint32_t id) -> const FontRecord& { return index_->recordWithoutOwnNames(id); },
      rankRequestFromAxes(axisValues));
  return std::make_shared<LinuxFontSet>(index_, std::move(ids));
}

FontSetRef LinuxFontSet::matchFamily(std::u16string_view familyName, int weight, int stretch,
                                     int style) const {
  // A family name of any kind selects the family: the WWS and typographic names group all
  // widths and weights, the legacy name only its own four styles.
  std::vector<uint32_t> ids;
  for (FontPropertyId kind :
       {FontPropertyId::kWeightStretchStyleFamilyName, FontPropertyId::kTypographicFamilyName,
        FontPropertyId::kWin32FamilyName}) {
    std::vector<uint32_t> named = fontsNamed(kind, familyName);
    ids.insert(ids.end(), named.begin(), named.end());
  }
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  RankRequest request;
  request.weight = weight;
  request.stretch = stretch;
  request.style = style;
  rankFonts(
      ids, [this](uint32_t id) -> const FontRecord& { return index_->recordWithoutOwnNames(id); },
      request);
  return std::make_shared<LinuxFontSet>(index_, std::move(ids));
}

std::shared_ptr<const LocalizedStrings> LinuxFontSet::propertyValues(uint32_t index,
                                                                     FontPropertyId id) const {
  if (index >= ids_.size()) return nullptr;
  // Only the names wait for the face's own name table.
  const bool named = id != FontPropertyId::kPostScriptName && id != FontPropertyId::kWeight &&
                     id != FontPropertyId::kStretch && id != FontPropertyId::kStyle;
  const FontRecord& record =
      named ? index_->record(ids_[index]) : index_->recordWithoutOwnNames(ids_[index]);
  switch (id) {
    case FontPropertyId::kPostScriptName:
      if (record.postScriptName.empty()) return nullptr;
      return std::make_shared<LocalizedStringList>(
          std::vector<LocalizedStringList::Entry>{{u"en-us", record.postScriptName}});
    case FontPropertyId::kFullName:
      return toLocalizedStrings(record.fullNames);
    case FontPropertyId::kTypographicFamilyName:
      return toLocalizedStrings(record.typographicFamilyNames);
    case FontPropertyId::kWeightStretchStyleFamilyName:
      return toLocalizedStrings(record.wwsFamilyNames);
    case FontPropertyId::kWin32FamilyName:
      return toLocalizedStrings(record.win32FamilyNames);
    case FontPropertyId::kWeight:
      return decimalValue(record.weight);
    case FontPropertyId::kStretch:
      return decimalValue(record.stretch);
    case FontPropertyId::kStyle:
      return decimalValue(record.style);
  }
  return nullptr;
}

FontSetRef LinuxFontSet::filteredFonts(std::span<const uint32_t> indices) const {
  std::vector<uint32_t> ids;
  ids.reserve(indices.size());
  for (uint32_t i : indices) {
    if (i >= ids_.size()) return nullptr;
    ids.push_back(ids_[i]);
  }
  return std::make_shared<LinuxFontSet>(index_, std::move(ids));
}

}  // namespace kfp::linux_backend
