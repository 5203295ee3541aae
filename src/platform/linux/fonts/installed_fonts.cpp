#include "platform/linux/fonts/installed_fonts.h"

#include <string_view>

#include "platform/linux/fonts/font_index_names.h"
#include "platform/linux/fonts/font_set.h"

namespace kfp::linux_backend {
namespace {

// The first name in another language than the preferred one, when it reads differently.
std::u16string nativeName(const std::vector<LocalizedName>& names) {
  const std::u16string& preferred = preferredName(names);
  for (const LocalizedName& name : names) {
    if (name.text != preferred && !name.text.empty()) return name.text;
  }
  return {};
}

InstalledFont listingOf(const FontRecord& record) {
  InstalledFont font;
  font.familyName = preferredName(record.typographicFamilyNames);
  font.nativeFamilyName = nativeName(record.typographicFamilyNames);
  font.fullName = preferredName(record.fullNames);
  font.nativeFullName = nativeName(record.fullNames);
  font.postScriptName = record.postScriptName;
  font.styleName = styleNameFor(record.weight, record.stretch, record.style);
  for (const AxisRange& axis : record.axes) {
    InstalledFontAxis listed{axis.tag, axis.minimum, axis.maximum, axis.defaultValue};
    for (const AxisValue& coordinate : record.coordinates) {
      if (coordinate.tag == axis.tag) listed.value = coordinate.value;
    }
    font.axes.push_back(listed);
  }
  return font;
}

// The axis values the renderer matches a registered listing with: its axes, and the weight its
// style name gives when it has no weight axis.
AxisValues requestedAxes(const FontRecord& record, const InstalledFont& font) {
  AxisValues values;
  bool weight = false;
  for (const InstalledFontAxis& axis : font.axes) {
    values.push_back({axis.tag, axis.value});
    weight = weight || axis.tag == kWghtTag;
  }
  if (!weight) values.push_back({kWghtTag, float(styleNameWeight(record.weight))});
  return values;
}

// Whether the renderer, matching `name` as property `id`, adopts a face (it does whenever the match
// is not empty), and whether that face is this record's.
enum class Match { kNone, kThisFace, kOtherFace };
Match match(const LinuxFontSet& fonts, const FontRecord& record, FontPropertyId id,
            std::u16string_view name, const AxisValues& axes) {
  if (name.empty()) return Match::kNone;
  const FontSetRef matched = fonts.matchProperty({id, name}, axes);
  const auto* set = dynamic_cast<const LinuxFontSet*>(matched.get());
  if (!set || set->recordIds().empty()) return Match::kNone;
  return sameFace(fonts.index().record(set->recordIds().front()), record) ? Match::kThisFace
                                                                          : Match::kOtherFace;
}

// Leaves out the names, in the renderer's matching order, that would find another face first;
// false when the family names that remain find another face too.
bool dropMisleadingNames(const LinuxFontSet& fonts, const FontRecord& record, InstalledFont& font) {
  const AxisValues axes = requestedAxes(record, font);
  for (std::u16string* name : {&font.postScriptName, &font.fullName, &font.nativeFullName}) {
    const FontPropertyId id =
        name == &font.postScriptName ? FontPropertyId::kPostScriptName : FontPropertyId::kFullName;
    switch (match(fonts, record, id, *name, axes)) {
      case Match::kThisFace:
        return true;
      case Match::kOtherFace:
        name->clear();
        break;
      case Match::kNone:
        break;
    }
  }
  for (const std::u16string* family : {&font.familyName, &font.nativeFamilyName}) {
    for (FontPropertyId id :
         {FontPropertyId::kTypographicFamilyName, FontPropertyId::kWeightStretchStyleFamilyName,
          FontPropertyId::kWin32FamilyName}) {
      const Match found = match(fonts, record, id, *family, axes);
      if (found != Match::kNone) return found == Match::kThisFace;
    }
  }
  return false;
}

}  // namespace

bool sameFace(const FontRecord& a, const FontRecord& b) {
  return a.postScriptName == b.postScriptName &&
         preferredName(a.fullNames) == preferredName(b.fullNames) && a.weight == b.weight &&
         a.stretch == b.stretch && a.style == b.style;
}

std::vector<IndexedFont> listIndexedFonts(std::shared_ptr<const FontIndex> index) {
  const std::shared_ptr<LinuxFontSet> scalable = LinuxFontSet::scalableFonts(index);
  std::vector<IndexedFont> fonts;
  fonts.reserve(index->size());
  index->readAllOwnNames();  // all at once rather than one record at a time
  for (uint32_t id = 0; id < index->size(); ++id) {
    const FontRecord& record = index->record(id);
    InstalledFont font = listingOf(record);
    // Bitmap-only faces are found by family name alone, on the GDI-style path.
    if (record.scalable && !dropMisleadingNames(*scalable, record, font)) continue;
    fonts.push_back({id, std::move(font)});
  }
  return fonts;
}

}  // namespace kfp::linux_backend
