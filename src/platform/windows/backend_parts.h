#pragma once
// The Windows backend's objects, shared between its files and its contract tests. Each wraps one
// platform object; every failed call becomes the seam's failure value.

#include <d2d1.h>
#include <wincodec.h>
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/backend.h"
#include "platform/windows/com_ptr.h"
#include "platform/windows/dwrite_compat.h"

namespace kfp::windows_backend {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 text is passed to the platform as is");

// A zero-terminated copy for calls that take C strings.
inline std::wstring toWide(std::u16string_view text) {
  return std::wstring(text.begin(), text.end());
}
inline const WCHAR* asWide(const char16_t* text) {
  return reinterpret_cast<const WCHAR*>(text);
}

static_assert(sizeof(AxisValue) == sizeof(DWRITE_FONT_AXIS_VALUE) &&
                  offsetof(AxisValue, tag) == offsetof(DWRITE_FONT_AXIS_VALUE, axisTag) &&
                  offsetof(AxisValue, value) == offsetof(DWRITE_FONT_AXIS_VALUE, value),
              "axis values are passed to DirectWrite as they are stored");
inline const DWRITE_FONT_AXIS_VALUE* asAxisValues(std::span<const AxisValue> values) {
  return reinterpret_cast<const DWRITE_FONT_AXIS_VALUE*>(values.data());
}

// A DirectWrite localized-string list, read on demand.
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

// A DirectWrite font set, with its version-1 view when the platform offers one.
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

class WindowsTextLayout final : public TextLayout {
 public:
  explicit WindowsTextLayout(ComPtr<IDWriteTextLayout> layout) : layout_(std::move(layout)) {}
  bool getMetrics(TextMetrics* metrics) const override;

  IDWriteTextLayout* get() const { return layout_.get(); }

 private:
  ComPtr<IDWriteTextLayout> layout_;
};

class WindowsTextEngine final : public TextEngine {
 public:
  // The shared DirectWrite factory and its version-3 view; a failure code when either is missing.
  static HResult create(std::shared_ptr<TextEngine>* out);

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

// The Direct2D factory and the WIC imaging factory; a failure code when either is missing.
HResult createWindowsGraphics(std::shared_ptr<Graphics>* out);

std::unique_ptr<Gdi> createWindowsGdi();

// PROCESS_MEMORY_COUNTERS_EX::PrivateUsage; 0 when it cannot be read.
uint64_t readPrivateBytes();
void releaseFreeHeap();

}  // namespace kfp::windows_backend
