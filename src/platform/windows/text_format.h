#pragma once
// A DirectWrite text format; axis values need its version-3 view.

#include <span>

#include "platform/text_engine.h"
#include "platform/windows/com_ptr.h"
#include "platform/windows/dwrite_compat.h"

namespace kfp::windows_backend {

class WindowsTextFormat final : public TextFormat {
 public:
  explicit WindowsTextFormat(ComPtr<IDWriteTextFormat> format);
  bool supportsFontAxisValues() const override { return static_cast<bool>(format3_); }
  bool setFontAxisValues(std::span<const AxisValue> values) override;
  bool setWordWrapping(WordWrapping wrapping) override;
  bool setTextAlignment(TextAlignment alignment) override;
  bool setParagraphAlignment(ParagraphAlignment alignment) override;

  IDWriteTextFormat* get() const { return format_.get(); }

 private:
  ComPtr<IDWriteTextFormat> format_;
  ComPtr<IDWriteTextFormat3> format3_;
};

}  // namespace kfp::windows_backend
