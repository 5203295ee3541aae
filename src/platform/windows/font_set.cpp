#include "platform/windows/font_set.h"

#include "platform/windows/localized_strings.h"
#include "platform/windows/test_hooks.h"
#include "platform/windows/wide_text.h"

namespace kfp::windows_backend {
namespace {

// The matching calls read the value as a C string; no locale means every localized value counts.
struct PropertyArgument {
  explicit PropertyArgument(const FontProperty& property)
      : value(toWide(property.value)),
        property{static_cast<DWRITE_FONT_PROPERTY_ID>(property.id), value.c_str(), nullptr} {}
  PropertyArgument(const PropertyArgument&) = delete;  // `property` points into `value`
  PropertyArgument& operator=(const PropertyArgument&) = delete;
  std::wstring value;
  DWRITE_FONT_PROPERTY property;
};

ComPtr<IDWriteFontSet> asBaseSet(ComPtr<IDWriteFontSet1> set1) {
  ComPtr<IDWriteFontSet> set;
  if (set1) set1.queryInterface(&set);
  return set;
}

}  // namespace

FontSetRef WindowsFontSet::wrap(ComPtr<IDWriteFontSet> set) {
  if (!set) return nullptr;
  ComPtr<IDWriteFontSet1> set1;
  if (!testHideFontSet1()) set.queryInterface(&set1);
  return FontSetRef(new WindowsFontSet(std::move(set), std::move(set1)));
}

uint32_t WindowsFontSet::fontCount() const {
  return set_->GetFontCount();
}

FontSetRef WindowsFontSet::matchProperty(const FontProperty& property) const {
  const PropertyArgument argument(property);
  ComPtr<IDWriteFontSet> matched;
  if (FAILED(sdk::GetMatchingFonts(set_.get(), &argument.property, 1, matched.put()))) {
    return nullptr;
  }
  return wrap(std::move(matched));
}

FontSetRef WindowsFontSet::matchFamily(std::u16string_view familyName, int weight, int stretch,
                                       int style) const {
  const std::wstring family = toWide(familyName);
  ComPtr<IDWriteFontSet> matched;
  if (FAILED(sdk::GetMatchingFonts(set_.get(), family.c_str(),
                                   static_cast<DWRITE_FONT_WEIGHT>(weight),
                                   static_cast<DWRITE_FONT_STRETCH>(stretch),
                                   static_cast<DWRITE_FONT_STYLE>(style), matched.put()))) {
    return nullptr;
  }
  return wrap(std::move(matched));
}

std::shared_ptr<const LocalizedStrings> WindowsFontSet::propertyValues(uint32_t index,
                                                                       FontPropertyId id) const {
  BOOL exists = FALSE;
  ComPtr<IDWriteLocalizedStrings> values;
  if (FAILED(sdk::GetPropertyValues(set_.get(), index, static_cast<DWRITE_FONT_PROPERTY_ID>(id),
                                    &exists, values.put())) ||
      !exists || !values) {
    return nullptr;
  }
  return std::make_shared<WindowsLocalizedStrings>(std::move(values));
}

FontSetRef WindowsFontSet::matchProperty(const FontProperty& property,
                                         std::span<const AxisValue> axisValues) const {
  if (!set1_) return nullptr;
  const PropertyArgument argument(property);
  ComPtr<IDWriteFontSet1> matched;
  if (FAILED(sdk::GetMatchingFonts(set1_.get(), &argument.property, asAxisValues(axisValues),
                                   static_cast<UINT32>(axisValues.size()), matched.put()))) {
    return nullptr;
  }
  return wrap(asBaseSet(std::move(matched)));
}

FontSetRef WindowsFontSet::filteredFonts(std::span<const uint32_t> indices) const {
  if (!set1_) return nullptr;
  ComPtr<IDWriteFontSet1> filtered;
  if (FAILED(sdk::GetFilteredFonts(set1_.get(), indices.data(), static_cast<UINT32>(indices.size()),
                                   filtered.put()))) {
    return nullptr;
  }
  return wrap(asBaseSet(std::move(filtered)));
}

}  // namespace kfp::windows_backend
