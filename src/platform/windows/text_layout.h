#pragma once
// A DirectWrite text layout: its metrics, and the object Direct2D draws.

#include "platform/text_engine.h"
#include "platform/windows/com_ptr.h"
#include "platform/windows/dwrite_compat.h"

namespace kfp::windows_backend {

class WindowsTextLayout final : public TextLayout {
 public:
  explicit WindowsTextLayout(ComPtr<IDWriteTextLayout> layout) : layout_(std::move(layout)) {}
  bool getMetrics(TextMetrics* metrics) const override;

  IDWriteTextLayout* get() const { return layout_.get(); }

 private:
  ComPtr<IDWriteTextLayout> layout_;
};

}  // namespace kfp::windows_backend
