#pragma once
// A DirectWrite localized-string list behind the seam's interface.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/font_set.h"
#include "platform/windows/com_ptr.h"
#include "platform/windows/dwrite_compat.h"

namespace kfp::windows_backend {

class WindowsLocalizedStrings final : public LocalizedStrings {
 public:
  explicit WindowsLocalizedStrings(ComPtr<IDWriteLocalizedStrings> strings)
      : strings_(std::move(strings)) {}
  uint32_t count() const override;
  bool findLocaleName(std::u16string_view locale, uint32_t* index) const override;
  bool getString(uint32_t index, std::u16string* out) const override;

 private:
  ComPtr<IDWriteLocalizedStrings> strings_;
};

}  // namespace kfp::windows_backend
