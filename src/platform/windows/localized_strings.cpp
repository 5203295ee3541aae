#include "platform/windows/localized_strings.h"

#include "platform/windows/wide_text.h"

namespace kfp::windows_backend {

uint32_t WindowsLocalizedStrings::count() const {
  return strings_->GetCount();
}

bool WindowsLocalizedStrings::findLocaleName(std::u16string_view locale, uint32_t* index) const {
  const std::wstring name = toWide(locale);
  UINT32 found = 0;
  BOOL exists = FALSE;
  if (FAILED(strings_->FindLocaleName(name.c_str(), &found, &exists)) || !exists) return false;
  *index = found;
  return true;
}

bool WindowsLocalizedStrings::getString(uint32_t index, std::u16string* out) const {
  UINT32 length = 0;
  if (FAILED(strings_->GetStringLength(index, &length))) return false;
  // GetString wants room for the terminating zero as well.
  std::u16string text(size_t{length} + 1, u'\0');
  if (FAILED(strings_->GetString(index, reinterpret_cast<WCHAR*>(text.data()), length + 1))) {
    return false;
  }
  text.resize(length);
  *out = std::move(text);
  return true;
}

}  // namespace kfp::windows_backend
