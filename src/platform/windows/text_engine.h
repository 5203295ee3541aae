#pragma once
// The DirectWrite text engine: the system font set, collections, formats and layouts.

#include <memory>
#include <string_view>

#include "platform/text_engine.h"
#include "platform/windows/com_ptr.h"
#include "platform/windows/dwrite_compat.h"

namespace kfp::windows_backend {

// The process's shared DirectWrite factory; empty when the platform has none.
ComPtr<IDWriteFactory> createSharedFactory();

class WindowsTextEngine final : public TextEngine {
 public:
  // On the shared DirectWrite factory and its version-3 view; nullptr when either is missing.
  static std::shared_ptr<TextEngine> create();

  FontSetRef getSystemFontSet() override;
  FontCollectionRef createFontCollection(const FontSet& fonts) override;
  std::unique_ptr<TextFormat> createTextFormat(const TextFormatDescription& request) override;
  std::unique_ptr<TextLayout> createTextLayout(std::u16string_view text, const TextFormat& format,
                                               float maxWidth, float maxHeight) override;

 private:
  WindowsTextEngine(ComPtr<IDWriteFactory> factory, ComPtr<IDWriteFactory3> factory3)
      : factory_(std::move(factory)), factory3_(std::move(factory3)) {}
  ComPtr<IDWriteFactory> factory_;
  ComPtr<IDWriteFactory3> factory3_;
};

}  // namespace kfp::windows_backend
