#pragma once
// A DirectWrite font collection behind the seam's interface.

#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/font_set.h"
#include "platform/windows/com_ptr.h"
#include "platform/windows/dwrite_compat.h"

namespace kfp::windows_backend {

class WindowsFontCollection final : public FontCollection {
 public:
  explicit WindowsFontCollection(ComPtr<IDWriteFontCollection1> collection)
      : collection_(std::move(collection)) {}
  uint32_t familyCount() const override;
  bool findFamilyName(std::u16string_view familyName) const override;
  std::shared_ptr<const LocalizedStrings> familyNames(uint32_t familyIndex) const override;

  IDWriteFontCollection1* get() const { return collection_.get(); }

 private:
  ComPtr<IDWriteFontCollection1> collection_;
};

}  // namespace kfp::windows_backend
