#include "platform/windows/installed_fonts.h"

#include <cwchar>
#include <string>

#include "platform/windows/com_ptr.h"
#include "platform/windows/dwrite_compat.h"
#include "platform/windows/localized_strings.h"
#include "platform/windows/text_engine.h"

namespace kfp::windows_backend {
namespace {

// The English text of a property (else its first), and the first text that differs from it.
struct Names {
  std::u16string preferred;
  std::u16string native;
};

Names propertyNames(IDWriteFontSet* set, UINT32 index, DWRITE_FONT_PROPERTY_ID id) {
  Names names;
  BOOL exists = FALSE;
  ComPtr<IDWriteLocalizedStrings> values;
  if (FAILED(sdk::GetPropertyValues(set, index, id, &exists, values.put())) || !exists || !values) {
    return names;
  }
  const WindowsLocalizedStrings strings(std::move(values));
  uint32_t english = 0;
  if (!strings.findLocaleName(u"en-us", &english)) english = 0;
  strings.getString(english, &names.preferred);
  for (uint32_t i = 0; i < strings.count(); ++i) {
    std::u16string text;
    if (strings.getString(i, &text) && !text.empty() && text != names.preferred) {
      names.native = std::move(text);
      break;
    }
  }
  return names;
}

// Weight, stretch and style are properties written as decimal numbers; -1 when absent.
int numericProperty(IDWriteFontSet* set, UINT32 index, DWRITE_FONT_PROPERTY_ID id) {
  const std::u16string text = propertyNames(set, index, id).preferred;
  if (text.empty()) return -1;
  int value = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9' || value > 10000) return -1;
    value = value * 10 + (c - u'0');
  }
  return value;
}

// The full name's words after the family name ("Bold Oblique" of "DejaVu Sans Bold Oblique").
std::u16string styleFromFullName(const std::u16string& full, const std::u16string& family) {
  if (family.empty() || full.size() <= family.size() + 1 ||
      full.compare(0, family.size(), family) != 0 || full[family.size()] != u' ') {
    return {};
  }
  return full.substr(family.size() + 1);
}

std::u16string styleName(IDWriteFontSet* set, UINT32 index, const InstalledFont& font) {
  const int weight = numericProperty(set, index, DWRITE_FONT_PROPERTY_ID_WEIGHT);
  const int stretch = numericProperty(set, index, DWRITE_FONT_PROPERTY_ID_STRETCH);
  const int style = numericProperty(set, index, DWRITE_FONT_PROPERTY_ID_STYLE);
  if (weight > 0 && stretch > 0 && style >= 0) return styleNameFor(weight, stretch, style);
  // Without the numbers (older systems), the face name is the best keyword source, else the words
  // of the full name after the family.
  std::u16string face =
      propertyNames(set, index, DWRITE_FONT_PROPERTY_ID_WEIGHT_STRETCH_STYLE_FACE_NAME).preferred;
  if (face.empty()) face = styleFromFullName(font.fullName, font.familyName);
  return face.empty() ? u"Regular" : face;
}

// The font's axes with their ranges and this face's values; none without the version-1 set.
void readAxes(IDWriteFontSet1* set1, UINT32 index, InstalledFont& font) {
  if (!set1) return;
  ComPtr<IDWriteFontFaceReference1> reference;
  if (FAILED(set1->GetFontFaceReference(index, reference.put())) || !reference) return;
  const UINT32 count = reference->GetFontAxisValueCount();
  if (count == 0) return;
  std::vector<DWRITE_FONT_AXIS_VALUE> values(count);
  std::vector<DWRITE_FONT_AXIS_RANGE> ranges(count);
  UINT32 rangeCount = 0;
  if (FAILED(reference->GetFontAxisValues(values.data(), count)) ||
      FAILED(sdk::GetFontAxisRanges(set1, index, ranges.data(), count, &rangeCount))) {
    return;
  }
  for (const DWRITE_FONT_AXIS_VALUE& value : values) {
    for (UINT32 r = 0; r < rangeCount && r < count; ++r) {
      // A fixed axis is no axis a host can vary.
      if (ranges[r].axisTag != value.axisTag || ranges[r].minValue >= ranges[r].maxValue) continue;
      font.axes.push_back({static_cast<uint32_t>(value.axisTag), ranges[r].minValue,
                           ranges[r].maxValue, value.value});
    }
  }
}

}  // namespace

bool listSystemFonts(std::vector<InstalledFont>* fonts) {
  ComPtr<IDWriteFactory3> factory;
  ComPtr<IDWriteFactory> shared = createSharedFactory();
  if (!shared || FAILED(shared.queryInterface(&factory))) return false;
  ComPtr<IDWriteFontSet> set;
  if (FAILED(factory->GetSystemFontSet(set.put())) || !set) return false;
  ComPtr<IDWriteFontSet1> set1;
  set.queryInterface(&set1);  // absent on older systems: the fonts are listed without axes

  fonts->clear();
  const UINT32 count = set->GetFontCount();
  for (UINT32 i = 0; i < count; ++i) {
    InstalledFont font;
    Names family = propertyNames(set.get(), i, DWRITE_FONT_PROPERTY_ID_TYPOGRAPHIC_FAMILY_NAME);
    if (family.preferred.empty()) {
      family =
          propertyNames(set.get(), i, DWRITE_FONT_PROPERTY_ID_WEIGHT_STRETCH_STYLE_FAMILY_NAME);
    }
    if (family.preferred.empty()) {
      family = propertyNames(set.get(), i, DWRITE_FONT_PROPERTY_ID_WIN32_FAMILY_NAME);
    }
    font.familyName = std::move(family.preferred);
    font.nativeFamilyName = std::move(family.native);
    Names full = propertyNames(set.get(), i, DWRITE_FONT_PROPERTY_ID_FULL_NAME);
    font.fullName = std::move(full.preferred);
    font.nativeFullName = std::move(full.native);
    font.postScriptName =
        propertyNames(set.get(), i, DWRITE_FONT_PROPERTY_ID_POSTSCRIPT_NAME).preferred;
    font.styleName = styleName(set.get(), i, font);
    readAxes(set1.get(), i, font);
    fonts->push_back(std::move(font));
  }
  return true;
}

}  // namespace kfp::windows_backend
