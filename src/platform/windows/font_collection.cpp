#include "platform/windows/font_collection.h"

#include "platform/windows/localized_strings.h"
#include "platform/windows/wide_text.h"

namespace kfp::windows_backend {

uint32_t WindowsFontCollection::familyCount() const {
  return collection_->GetFontFamilyCount();
}

bool WindowsFontCollection::findFamilyName(std::u16string_view familyName) const {
  const std::wstring name = toWide(familyName);
  UINT32 index = 0;
  BOOL exists = FALSE;
  return SUCCEEDED(collection_->FindFamilyName(name.c_str(), &index, &exists)) && exists;
}

std::shared_ptr<const LocalizedStrings> WindowsFontCollection::familyNames(
    uint32_t familyIndex) const {
  ComPtr<IDWriteFontFamily> family;
  if (FAILED(sdk::GetFontFamily(collection_.get(), familyIndex, family.put())) || !family)
    return nullptr;
  ComPtr<IDWriteLocalizedStrings> names;
  if (FAILED(family->GetFamilyNames(names.put())) || !names) return nullptr;
  return std::make_shared<WindowsLocalizedStrings>(std::move(names));
}

}  // namespace kfp::windows_backend
