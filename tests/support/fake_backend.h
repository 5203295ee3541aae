#pragma once
// A scripted platform for unit tests: every seam operation can be told to fail or to return chosen
// data, and records what it was called with.

#include <cstdint>
#include <deque>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/backend.h"

namespace kfp::testing {

class FakeLocalizedStrings : public LocalizedStrings {
 public:
  struct Entry {
    std::u16string locale;
    std::u16string text;
  };
  FakeLocalizedStrings(std::initializer_list<Entry> entries) : entries_(entries) {}

  uint32_t count() const override { return static_cast<uint32_t>(entries_.size()); }
  bool findLocaleName(std::u16string_view locale, uint32_t* index) const override;
  bool getString(uint32_t index, std::u16string* out) const override;

  bool failGetString = false;

 private:
  std::vector<Entry> entries_;
};

std::shared_ptr<FakeLocalizedStrings> makeStrings(
    std::initializer_list<FakeLocalizedStrings::Entry> entries);

class FakeFontCollection : public FontCollection {
 public:
  uint32_t familyCount() const override { return families; }
  bool findFamilyName(std::u16string_view familyName) const override;
  std::shared_ptr<const LocalizedStrings> familyNames(uint32_t familyIndex) const override;

  uint32_t families = 1;
  std::vector<std::u16string> knownFamilies;  // findFamilyName finds these, ignoring ASCII case
  bool failFindFamilyName = false;
  std::shared_ptr<const LocalizedStrings> firstFamilyNames;  // of family 0; null: the call fails
  mutable std::vector<std::u16string> findCalls;
};

// A font set with an optional version-1 view. What it matches is scripted per property and value
// or per family; a missing script entry is a failed match. The collection a text engine builds
// from this set is scripted here too.
class FakeFontSet : public FontSet, public AxisAwareFontSet {
 public:
  explicit FakeFontSet(uint32_t count = 1, bool hasAxisAware = true)
      : count(count), hasAxisAware(hasAxisAware) {}

  uint32_t fontCount() const override { return count; }
  FontSetRef matchProperty(const FontProperty& property) const override;
  FontSetRef matchFamily(std::u16string_view familyName, int weight, int stretch,
                         int style) const override;
  std::shared_ptr<const LocalizedStrings> propertyValues(uint32_t index,
                                                         FontPropertyId id) const override;
  const AxisAwareFontSet* asAxisAware() const override { return hasAxisAware ? this : nullptr; }
  FontSetRef matchProperty(const FontProperty& property,
                           std::span<const AxisValue> axisValues) const override;
  FontSetRef filteredFonts(std::span<const uint32_t> indices) const override;

  void onProperty(FontPropertyId id, std::u16string value, FontSetRef result) {
    propertyMatches[{id, std::move(value)}] = std::move(result);
  }
  void onFamily(std::u16string name, FontSetRef result) {
    familyMatches[std::move(name)] = std::move(result);
  }

  uint32_t count;
  bool hasAxisAware;
  std::map<std::pair<FontPropertyId, std::u16string>, FontSetRef> propertyMatches;
  std::map<std::u16string, FontSetRef> familyMatches;
  std::map<FontPropertyId, std::shared_ptr<const LocalizedStrings>> firstFontProperties;
  // Per-font values, taking precedence over firstFontProperties for that font.
  std::map<std::pair<uint32_t, FontPropertyId>, std::shared_ptr<const LocalizedStrings>>
      fontProperties;
  bool throwOnMatch = false;     // every match raises a non-platform exception
  FontSetRef filtered;           // result of filteredFonts; null: the call fails
  FontCollectionRef collection;  // what a collection built from this set is; null: build fails

  struct PropertyCall {
    FontPropertyId id;
    std::u16string value;
    bool withAxes;  // through the version-1 view
    AxisValues axes;
  };
  struct FamilyCall {
    std::u16string name;
    int weight, stretch, style;
  };
  mutable std::vector<PropertyCall> propertyCalls;
  mutable std::vector<FamilyCall> familyCalls;
  mutable std::vector<std::vector<uint32_t>> filterCalls;
  mutable std::vector<std::pair<uint32_t, FontPropertyId>> propertyValueCalls;
};

// A match of `count` installed fonts whose collection holds the one family `family`.
std::shared_ptr<FakeFontSet> matchedFamily(std::u16string family, uint32_t count = 1);

class FakeTextEngine : public TextEngine {
 public:
  FakeTextEngine() : systemFonts(std::make_shared<FakeFontSet>(0)) {}

  FontSetRef getSystemFontSet() override;
  FontCollectionRef createFontCollection(const FontSet& fonts) override;
  std::unique_ptr<TextFormat> createTextFormat(const TextFormatDescription& description) override;
  std::unique_ptr<TextLayout> createTextLayout(std::u16string_view text, const TextFormat& format,
                                               float maxWidth, float maxHeight) override;

  // Script.
  bool failSystemFontSet = false;
  std::shared_ptr<FakeFontSet> systemFonts;
  bool failTextFormat = false;
  bool supportsAxes = true;
  bool failAxes = false;
  bool failTextLayout = false;
  bool failMetrics = false;
  TextMetrics metrics{20.0f, 1};

  // Records.
  struct FormatRecord {
    std::u16string familyName;
    FontCollectionRef fontCollection;
    int weight = 0, style = 0, stretch = 0;
    float fontSize = 0;
    std::u16string localeName;
    std::vector<AxisValues> axisCalls;
    std::vector<WordWrapping> wrapping;
    std::vector<TextAlignment> textAlignment;
    std::vector<ParagraphAlignment> paragraphAlignment;
  };
  struct LayoutRecord {
    std::u16string text;
    float maxWidth = 0, maxHeight = 0;
    const TextFormat* format = nullptr;
  };
  std::vector<const FontSet*> collectionRequests;
  std::deque<FormatRecord> formats;  // a deque: live formats keep pointers to their record
  std::vector<LayoutRecord> layouts;
  int liveFormats = 0;
  int liveLayouts = 0;
};

class FakeGraphics : public Graphics {
 public:
  std::unique_ptr<Bitmap> createBitmap(uint32_t width, uint32_t height) override;
  std::unique_ptr<RenderTarget> createRenderTarget(Bitmap& bitmap, float dpi) override;

  // Script.
  bool failBitmap = false;
  bool failRenderTarget = false;
  bool failBrush = false;
  bool failEndDraw = false;
  bool failLock = false;
  bool nullLockData = false;
  // What the lock shows; when empty, a zero-filled 32-bit surface of the bitmap's size.
  std::vector<uint8_t> lockBuffer;
  uint32_t lockStride = 0;
  uint32_t lockBytesPerPixel = 4;
  uint32_t lockAlphaOffset = 3;

  // Records: every call in order ("createBitmap", "createRenderTarget", "grayscale", "brush",
  // "beginDraw", "clear", "drawTextLayout", "endDraw", "lock").
  std::vector<std::string> calls;
  uint32_t bitmapWidth = 0, bitmapHeight = 0;
  float dpi = 0;
  const TextLayout* drawnLayout = nullptr;
};

// The GDI-style backend a FakeBackend starts with: it knows no face, so every font request fails
// (and the GDI probe of font lookup finds nothing). It counts the requests.
class NullGdi : public Gdi {
 public:
  std::unique_ptr<GdiFont> createFont(const GdiFontRequest& request) override {
    fontRequests.push_back(request);
    return nullptr;
  }
  std::unique_ptr<GdiDeviceContext> createCompatibleDC() override { return nullptr; }
  std::unique_ptr<GdiBitmap> createDibSection(GdiDeviceContext&, uint32_t, uint32_t) override {
    return nullptr;
  }
  bool equalIgnoringCase(std::u16string_view a, std::u16string_view b) override { return a == b; }

  std::vector<GdiFontRequest> fontRequests;
};

class FakeBackend : public Backend {
 public:
  FakeBackend()
      : textEngine(std::make_shared<FakeTextEngine>()),
        graphics(std::make_shared<FakeGraphics>()) {}

  std::shared_ptr<TextEngine> createTextEngine() override;
  std::shared_ptr<Graphics> createGraphics() override;
  Gdi& gdi() override { return gdiOverride ? *gdiOverride : defaultGdi; }
  uint64_t privateBytes() override { return privateBytesValue; }
  void releaseFreeMemory() override {
    ++releaseCount;
    if (privateBytesAfterRelease) privateBytesValue = *privateBytesAfterRelease;
  }
  void dropOpenFaces() override { ++dropOpenFacesCount; }
  bool listInstalledFonts(std::vector<InstalledFont>* fonts) override {
    if (failListing) return false;
    *fonts = installedFonts;
    return true;
  }

  std::shared_ptr<FakeTextEngine> textEngine;
  std::shared_ptr<FakeGraphics> graphics;
  bool failTextEngine = false;
  bool failGraphics = false;
  Gdi* gdiOverride = nullptr;  // tests set their own GDI-style backend here
  NullGdi defaultGdi;
  uint64_t privateBytesValue = 0;
  // What the figure falls to once freed memory is given back; unset: it stays.
  std::optional<uint64_t> privateBytesAfterRelease;
  int releaseCount = 0;
  int dropOpenFacesCount = 0;
  // What listInstalledFonts reports; failListing makes it fail.
  std::vector<InstalledFont> installedFonts;
  bool failListing = false;
};

}  // namespace kfp::testing
