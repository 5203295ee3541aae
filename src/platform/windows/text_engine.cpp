#include "platform/windows/text_engine.h"

#include "platform/windows/font_collection.h"
#include "platform/windows/font_set.h"
#include "platform/windows/text_format.h"
#include "platform/windows/text_layout.h"
#include "platform/windows/wide_text.h"

namespace kfp::windows_backend {

ComPtr<IDWriteFactory> createSharedFactory() {
  ComPtr<IUnknown> unknown;
  if (FAILED(DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                                 unknown.put())) ||
      !unknown) {
    return {};
  }
  ComPtr<IDWriteFactory> factory;
  if (FAILED(unknown.queryInterface(&factory))) return {};
  return factory;
}

std::shared_ptr<TextEngine> WindowsTextEngine::create() {
  ComPtr<IDWriteFactory> factory = createSharedFactory();
  if (!factory) return nullptr;
  ComPtr<IDWriteFactory3> factory3;
  if (FAILED(factory.queryInterface(&factory3))) return nullptr;
  return std::shared_ptr<TextEngine>(
      new WindowsTextEngine(std::move(factory), std::move(factory3)));
}

FontSetRef WindowsTextEngine::getSystemFontSet() {
  ComPtr<IDWriteFontSet> set;
  if (FAILED(factory3_->GetSystemFontSet(set.put()))) return nullptr;
  return WindowsFontSet::wrap(std::move(set));
}

FontCollectionRef WindowsTextEngine::createFontCollection(const FontSet& fonts) {
  const auto* set = dynamic_cast<const WindowsFontSet*>(&fonts);
  if (!set) return nullptr;
  ComPtr<IDWriteFontCollection1> collection;
  if (FAILED(factory3_->CreateFontCollectionFromFontSet(set->get(), collection.put())) ||
      !collection) {
    return nullptr;
  }
  return std::make_shared<WindowsFontCollection>(std::move(collection));
}

std::unique_ptr<TextFormat> WindowsTextEngine::createTextFormat(
    const TextFormatDescription& request) {
  // No collection at all is DirectWrite's system collection; one from elsewhere is unusable.
  IDWriteFontCollection* collection = nullptr;
  if (request.fontCollection) {
    const auto* own = dynamic_cast<const WindowsFontCollection*>(request.fontCollection.get());
    if (!own) return nullptr;
    collection = own->get();
  }
  const std::wstring family = toWide(request.familyName);
  const std::wstring locale = toWide(request.localeName);
  ComPtr<IDWriteTextFormat> format;
  if (FAILED(factory_->CreateTextFormat(family.c_str(), collection,
                                        static_cast<DWRITE_FONT_WEIGHT>(request.weight),
                                        static_cast<DWRITE_FONT_STYLE>(request.style),
                                        static_cast<DWRITE_FONT_STRETCH>(request.stretch),
                                        request.fontSize, locale.c_str(), format.put())) ||
      !format) {
    return nullptr;
  }
  return std::make_unique<WindowsTextFormat>(std::move(format));
}

std::unique_ptr<TextLayout> WindowsTextEngine::createTextLayout(std::u16string_view text,
                                                                const TextFormat& format,
                                                                float maxWidth, float maxHeight) {
  const auto* own = dynamic_cast<const WindowsTextFormat*>(&format);
  if (!own) return nullptr;
  // An empty view may have no storage; DirectWrite still wants a valid pointer.
  const WCHAR* string = text.empty() ? L"" : asWide(text.data());
  ComPtr<IDWriteTextLayout> layout;
  if (FAILED(factory_->CreateTextLayout(string, static_cast<UINT32>(text.size()), own->get(),
                                        maxWidth, maxHeight, layout.put())) ||
      !layout) {
    return nullptr;
  }
  return std::make_unique<WindowsTextLayout>(std::move(layout));
}

}  // namespace kfp::windows_backend
