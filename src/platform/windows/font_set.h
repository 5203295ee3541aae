#pragma once
// A DirectWrite font set, with its axis-aware view when the platform has the version-1 set.

#include <cstdint>
#include <span>
#include <string_view>

#include "platform/font_set.h"
#include "platform/windows/com_ptr.h"
#include "platform/windows/dwrite_compat.h"

namespace kfp::windows_backend {

class WindowsFontSet final : public FontSet, public AxisAwareFontSet {
 public:
  // Nullptr for an empty pointer.
  static FontSetRef wrap(ComPtr<IDWriteFontSet> set);

  uint32_t fontCount() const override;
  FontSetRef matchProperty(const FontProperty& property) const override;
  FontSetRef matchFamily(std::u16string_view familyName, int weight, int stretch,
                         int style) const override;
  std::shared_ptr<const LocalizedStrings> propertyValues(uint32_t index,
                                                         FontPropertyId id) const override;
  const AxisAwareFontSet* asAxisAware() const override { return set1_ ? this : nullptr; }

  FontSetRef matchProperty(const FontProperty& property,
                           std::span<const AxisValue> axisValues) const override;
  FontSetRef filteredFonts(std::span<const uint32_t> indices) const override;

  IDWriteFontSet* get() const { return set_.get(); }

 private:
  WindowsFontSet(ComPtr<IDWriteFontSet> set, ComPtr<IDWriteFontSet1> set1)
      : set_(std::move(set)), set1_(std::move(set1)) {}
  ComPtr<IDWriteFontSet> set_;
  ComPtr<IDWriteFontSet1> set1_;
};

}  // namespace kfp::windows_backend
