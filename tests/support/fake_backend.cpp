#include "support/fake_backend.h"

#include <algorithm>
#include <stdexcept>

namespace kfp::testing {
namespace {

char16_t foldAscii(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c;
}

bool equalFoldingAscii(std::u16string_view a, std::u16string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char16_t x, char16_t y) { return foldAscii(x) == foldAscii(y); });
}

class FakeTextFormat : public TextFormat {
 public:
  FakeTextFormat(FakeTextEngine& engine, FakeTextEngine::FormatRecord& record)
      : engine_(engine), record_(record) {
    ++engine_.liveFormats;
  }
  ~FakeTextFormat() override { --engine_.liveFormats; }

  bool supportsFontAxisValues() const override { return engine_.supportsAxes; }
  bool setFontAxisValues(std::span<const AxisValue> values) override {
    record_.axisCalls.emplace_back(values.begin(), values.end());
    return !engine_.failAxes;
  }
  bool setWordWrapping(WordWrapping wrapping) override {
    record_.wrapping.push_back(wrapping);
    return true;
  }
  bool setTextAlignment(TextAlignment alignment) override {
    record_.textAlignment.push_back(alignment);
    return true;
  }
  bool setParagraphAlignment(ParagraphAlignment alignment) override {
    record_.paragraphAlignment.push_back(alignment);
    return true;
  }

 private:
  FakeTextEngine& engine_;
  FakeTextEngine::FormatRecord& record_;
};

class FakeTextLayout : public TextLayout {
 public:
  explicit FakeTextLayout(FakeTextEngine& engine) : engine_(engine) { ++engine_.liveLayouts; }
  ~FakeTextLayout() override { --engine_.liveLayouts; }

  bool getMetrics(TextMetrics* metrics) const override {
    if (engine_.failMetrics) return false;
    *metrics = engine_.metrics;
    return true;
  }

 private:
  FakeTextEngine& engine_;
};

class FakeBitmap : public Bitmap {
 public:
  FakeBitmap(FakeGraphics& graphics, uint32_t width, uint32_t height)
      : graphics_(graphics), width_(width), height_(height) {}

  bool lock(BitmapLock* out) override {
    graphics_.calls.push_back("lock");
    if (graphics_.failLock) return false;
    out->stride = graphics_.lockStride ? graphics_.lockStride : 4 * width_;
    out->bytesPerPixel = graphics_.lockBytesPerPixel;
    out->alphaOffset = graphics_.lockAlphaOffset;
    if (graphics_.lockBuffer.empty()) {
      graphics_.lockBuffer.assign(size_t{out->stride} * height_, 0);
    }
    out->data = graphics_.nullLockData ? nullptr : graphics_.lockBuffer.data();
    return true;
  }

 private:
  FakeGraphics& graphics_;
  uint32_t width_;
  uint32_t height_;
};

class FakeRenderTarget : public RenderTarget {
 public:
  explicit FakeRenderTarget(FakeGraphics& graphics) : graphics_(graphics) {}

  void setGrayscaleTextAntialiasing() override { graphics_.calls.push_back("grayscale"); }
  bool createOpaqueWhiteBrush() override {
    graphics_.calls.push_back("brush");
    return !graphics_.failBrush;
  }
  void beginDraw() override { graphics_.calls.push_back("beginDraw"); }
  void clear() override { graphics_.calls.push_back("clear"); }
  void drawTextLayout(const TextLayout& layout) override {
    graphics_.calls.push_back("drawTextLayout");
    graphics_.drawnLayout = &layout;
  }
  bool endDraw() override {
    graphics_.calls.push_back("endDraw");
    return !graphics_.failEndDraw;
  }

 private:
  FakeGraphics& graphics_;
};

}  // namespace

bool FakeLocalizedStrings::findLocaleName(std::u16string_view locale, uint32_t* index) const {
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (equalFoldingAscii(entries_[i].locale, locale)) {
      *index = static_cast<uint32_t>(i);
      return true;
    }
  }
  return false;
}

bool FakeLocalizedStrings::getString(uint32_t index, std::u16string* out) const {
  if (failGetString || index >= entries_.size()) return false;
  *out = entries_[index].text;
  return true;
}

std::shared_ptr<FakeLocalizedStrings> makeStrings(
    std::initializer_list<FakeLocalizedStrings::Entry> entries) {
  return std::make_shared<FakeLocalizedStrings>(entries);
}

bool FakeFontCollection::findFamilyName(std::u16string_view familyName) const {
  findCalls.emplace_back(familyName);
  if (failFindFamilyName) return false;
  return std::any_of(knownFamilies.begin(), knownFamilies.end(), [&](const std::u16string& known) {
    return equalFoldingAscii(known, familyName);
  });
}

std::shared_ptr<const LocalizedStrings> FakeFontCollection::familyNames(
    uint32_t familyIndex) const {
  return familyIndex == 0 ? firstFamilyNames : nullptr;
}

FontSetRef FakeFontSet::matchProperty(const FontProperty& property) const {
  propertyCalls.push_back({property.id, std::u16string(property.value), false, {}});
  if (throwOnMatch) throw std::logic_error("scripted failure");
  auto it = propertyMatches.find({property.id, std::u16string(property.value)});
  return it == propertyMatches.end() ? nullptr : it->second;
}

FontSetRef FakeFontSet::matchProperty(const FontProperty& property,
                                      std::span<const AxisValue> axisValues) const {
  propertyCalls.push_back({property.id, std::u16string(property.value), true,
                           AxisValues(axisValues.begin(), axisValues.end())});
  if (throwOnMatch) throw std::logic_error("scripted failure");
  auto it = propertyMatches.find({property.id, std::u16string(property.value)});
  return it == propertyMatches.end() ? nullptr : it->second;
}

FontSetRef FakeFontSet::matchFamily(std::u16string_view familyName, int weight, int stretch,
                                    int style) const {
  familyCalls.push_back({std::u16string(familyName), weight, stretch, style});
  auto it = familyMatches.find(std::u16string(familyName));
  return it == familyMatches.end() ? nullptr : it->second;
}

std::shared_ptr<const LocalizedStrings> FakeFontSet::propertyValues(uint32_t index,
                                                                    FontPropertyId id) const {
  propertyValueCalls.emplace_back(index, id);
  if (index >= count) return nullptr;
  if (auto own = fontProperties.find({index, id}); own != fontProperties.end()) return own->second;
  auto it = firstFontProperties.find(id);
  return it == firstFontProperties.end() ? nullptr : it->second;
}

FontSetRef FakeFontSet::filteredFonts(std::span<const uint32_t> indices) const {
  filterCalls.emplace_back(indices.begin(), indices.end());
  return filtered;
}

std::shared_ptr<FakeFontSet> matchedFamily(std::u16string family, uint32_t count) {
  auto collection = std::make_shared<FakeFontCollection>();
  collection->knownFamilies = {family};
  collection->firstFamilyNames = makeStrings({{u"en-us", family}});
  auto fonts = std::make_shared<FakeFontSet>(count, false);
  fonts->collection = std::move(collection);
  return fonts;
}

FontSetRef FakeTextEngine::getSystemFontSet() {
  if (failSystemFontSet) return nullptr;
  return systemFonts;
}

FontCollectionRef FakeTextEngine::createFontCollection(const FontSet& fonts) {
  collectionRequests.push_back(&fonts);
  const auto* fake = dynamic_cast<const FakeFontSet*>(&fonts);
  return fake ? fake->collection : nullptr;
}

std::unique_ptr<TextFormat> FakeTextEngine::createTextFormat(
    const TextFormatDescription& description) {
  FormatRecord& record = formats.emplace_back();
  record.familyName = description.familyName;
  record.fontCollection = description.fontCollection;
  record.weight = description.weight;
  record.style = description.style;
  record.stretch = description.stretch;
  record.fontSize = description.fontSize;
  record.localeName = description.localeName;
  if (failTextFormat) return nullptr;
  return std::make_unique<FakeTextFormat>(*this, record);
}

std::unique_ptr<TextLayout> FakeTextEngine::createTextLayout(std::u16string_view text,
                                                             const TextFormat& format,
                                                             float maxWidth, float maxHeight) {
  layouts.push_back({std::u16string(text), maxWidth, maxHeight, &format});
  if (failTextLayout) return nullptr;
  return std::make_unique<FakeTextLayout>(*this);
}

std::unique_ptr<Bitmap> FakeGraphics::createBitmap(uint32_t width, uint32_t height) {
  calls.push_back("createBitmap");
  bitmapWidth = width;
  bitmapHeight = height;
  if (failBitmap) return nullptr;
  return std::make_unique<FakeBitmap>(*this, width, height);
}

std::unique_ptr<RenderTarget> FakeGraphics::createRenderTarget(Bitmap&, float targetDpi) {
  calls.push_back("createRenderTarget");
  dpi = targetDpi;
  if (failRenderTarget) return nullptr;
  return std::make_unique<FakeRenderTarget>(*this);
}

std::shared_ptr<TextEngine> FakeBackend::createTextEngine() {
  if (failTextEngine) return nullptr;
  return textEngine;
}

std::shared_ptr<Graphics> FakeBackend::createGraphics() {
  if (failGraphics) return nullptr;
  return graphics;
}

}  // namespace kfp::testing
