#include "platform/windows/text_format.h"

#include "platform/windows/wide_text.h"

namespace kfp::windows_backend {

WindowsTextFormat::WindowsTextFormat(ComPtr<IDWriteTextFormat> format)
    : format_(std::move(format)) {
  // Axis values need the version-3 format; without it the font keeps its default instance.
  format_.queryInterface(&format3_);
}

bool WindowsTextFormat::setFontAxisValues(std::span<const AxisValue> values) {
  if (!format3_) return false;
  return SUCCEEDED(
      format3_->SetFontAxisValues(asAxisValues(values), static_cast<UINT32>(values.size())));
}

bool WindowsTextFormat::setWordWrapping(WordWrapping wrapping) {
  return SUCCEEDED(format_->SetWordWrapping(static_cast<DWRITE_WORD_WRAPPING>(wrapping)));
}

bool WindowsTextFormat::setTextAlignment(TextAlignment alignment) {
  return SUCCEEDED(format_->SetTextAlignment(static_cast<DWRITE_TEXT_ALIGNMENT>(alignment)));
}

bool WindowsTextFormat::setParagraphAlignment(ParagraphAlignment alignment) {
  return SUCCEEDED(
      format_->SetParagraphAlignment(static_cast<DWRITE_PARAGRAPH_ALIGNMENT>(alignment)));
}

}  // namespace kfp::windows_backend
