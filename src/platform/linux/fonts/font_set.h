#pragma once
// The Linux backend's font set: an ordered list of record ids over the shared font index. Matching
// is exact (case-insensitive) name lookup in the index, never a fontconfig substitute, followed by
// the ranking of font_set_ranking.h.

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/font_set.h"
#include "platform/linux/fonts/font_index.h"

namespace kfp::linux_backend {

class LinuxFontSet final : public FontSet, public AxisAwareFontSet {
 public:
  // `ids` in the set's order; each must be a valid id of `index`.
  LinuxFontSet(std::shared_ptr<const FontIndex> index, std::vector<uint32_t> ids);

  // The scalable installed fonts: what the text engine offers. Bitmap-only faces stay out.
  static std::shared_ptr<LinuxFontSet> scalableFonts(std::shared_ptr<const FontIndex> index);

  uint32_t fontCount() const override { return static_cast<uint32_t>(ids_.size()); }
  FontSetRef matchProperty(const FontProperty& property) const override;
  FontSetRef matchFamily(std::u16string_view familyName, int weight, int stretch,
                         int style) const override;
  std::shared_ptr<const LocalizedStrings> propertyValues(uint32_t index,
                                                         FontPropertyId id) const override;
  const AxisAwareFontSet* asAxisAware() const override { return this; }

  FontSetRef matchProperty(const FontProperty& property,
                           std::span<const AxisValue> axisValues) const override;
  FontSetRef filteredFonts(std::span<const uint32_t> indices) const override;

  const FontIndex& index() const { return *index_; }
  std::span<const uint32_t> recordIds() const { return ids_; }

 private:
  // Ids of this set's fonts whose `id` property equals `name` ignoring case, in index order.
  std::vector<uint32_t> fontsNamed(FontPropertyId id, std::u16string_view name) const;
  bool contains(uint32_t recordId) const;

  std::shared_ptr<const FontIndex> index_;
  std::vector<uint32_t> ids_;
  std::vector<uint32_t> sortedIds_;  // for membership tests; empty when ids_ is sorted itself
};

}  // namespace kfp::linux_backend
