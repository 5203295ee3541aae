#pragma once
// Seam: the installed fonts as a matchable set, and font collections built from sets.
// Every operation reports failure by return value (nullptr or false), never by exception.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/font_types.h"

namespace kfp {

enum class FontPropertyId : uint32_t {
  kWeightStretchStyleFamilyName = 1,
  kTypographicFamilyName = 2,
  kFullName = 4,
  kWin32FamilyName = 5,
  kPostScriptName = 6,
  // A font's own weight (1..999), stretch (1..9) and style (0 normal, 1 oblique, 2 italic), each
  // one decimal string; they are read, never matched.
  kWeight = 10,
  kStretch = 11,
  kStyle = 12,
};

// A property to match; no locale, so every localized value of the font counts.
struct FontProperty {
  FontPropertyId id;
  std::u16string_view value;
};

// A list of strings keyed by locale name ("en-us", ...).
class LocalizedStrings {
 public:
  virtual ~LocalizedStrings() = default;
  virtual uint32_t count() const = 0;
  // True and the index when the locale is present (locale names compare ignoring ASCII case).
  virtual bool findLocaleName(std::u16string_view locale, uint32_t* index) const = 0;
  // False when the string cannot be read.
  virtual bool getString(uint32_t index, std::u16string* out) const = 0;
};

// The plain in-memory list used by backends.
class LocalizedStringList : public LocalizedStrings {
 public:
  struct Entry {
    std::u16string locale;
    std::u16string text;
  };
  LocalizedStringList() = default;
  explicit LocalizedStringList(std::vector<Entry> entries) : entries_(std::move(entries)) {}
  void add(std::u16string locale, std::u16string text) {
    entries_.push_back({std::move(locale), std::move(text)});
  }
  uint32_t count() const override { return static_cast<uint32_t>(entries_.size()); }
  bool findLocaleName(std::u16string_view locale, uint32_t* index) const override;
  bool getString(uint32_t index, std::u16string* out) const override;
  const std::vector<Entry>& entries() const { return entries_; }

 private:
  std::vector<Entry> entries_;
};

class FontSet;
using FontSetRef = std::shared_ptr<const FontSet>;

// Matching that ranks by axis values, and filtering by index: a capability a backend may lack
// (the platform offers it from its version-1 font set on).
class AxisAwareFontSet {
 public:
  virtual ~AxisAwareFontSet() = default;
  // Fonts having the property, ranked by closeness to the axis values; nullptr on failure.
  virtual FontSetRef matchProperty(const FontProperty& property,
                                   std::span<const AxisValue> axisValues) const = 0;
  // A set of just the fonts at the given indices; nullptr on failure.
  virtual FontSetRef filteredFonts(std::span<const uint32_t> indices) const = 0;
};

class FontSet {
 public:
  virtual ~FontSet() = default;
  virtual uint32_t fontCount() const = 0;
  // Fonts having the property, in the backend's order of preference; nullptr on failure.
  virtual FontSetRef matchProperty(const FontProperty& property) const = 0;
  // The fonts of a family, the one to use for weight, stretch and style first; nullptr on failure.
  virtual FontSetRef matchFamily(std::u16string_view familyName, int weight, int stretch,
                                 int style) const = 0;
  // The localized values of one property of the font at `index`; nullptr when the call fails or
  // the font lacks the property.
  virtual std::shared_ptr<const LocalizedStrings> propertyValues(uint32_t index,
                                                                 FontPropertyId id) const = 0;
  // The axis-aware view of this set, or nullptr when the backend lacks it.
  virtual const AxisAwareFontSet* asAxisAware() const = 0;
};

// A font collection: families of fonts from which text formats are made.
class FontCollection {
 public:
  virtual ~FontCollection() = default;
  virtual uint32_t familyCount() const = 0;
  // Whether a family of that name exists (names compare ignoring case); false on failure.
  virtual bool findFamilyName(std::u16string_view familyName) const = 0;
  // The localized names of one family; nullptr on failure.
  virtual std::shared_ptr<const LocalizedStrings> familyNames(uint32_t familyIndex) const = 0;
};
using FontCollectionRef = std::shared_ptr<const FontCollection>;

}  // namespace kfp
