#include "fonts/font_lookup.h"

#include <array>
#include <memory>
#include <optional>

#include "base/json.h"
#include "fonts/font_lookup_steps.h"
#include "fonts/font_registry.h"
#include "fonts/gdi_font.h"
#include "fonts/match_ranking.h"
#include "platform/platform_services.h"
#include "protocol/message_types.h"

namespace kfp {
namespace {

// The GDI probe asks for the face at a fixed, ordinary size: only whether GDI selects it matters.
constexpr float kGdiProbeFontSize = 28.0f;
constexpr float kGdiProbeDpiScale = 1.0f;
constexpr std::u16string_view kPreferredLocale = u"en-us";

// Matching by family tries the typographic name first; naming an already matched font (below)
// prefers the weight-stretch-style name.
constexpr std::array<FontPropertyId, 3> kFamilyMatchOrder = {
    FontPropertyId::kTypographicFamilyName, FontPropertyId::kWeightStretchStyleFamilyName,
    FontPropertyId::kWin32FamilyName};
constexpr std::array<FontPropertyId, 3> kFamilyNamingOrder = {
    FontPropertyId::kWeightStretchStyleFamilyName, FontPropertyId::kTypographicFamilyName,
    FontPropertyId::kWin32FamilyName};

// The registered family name first, then the native one; empty names are skipped by callers.
std::array<const std::u16string*, 2> familyNamesOf(const RegisteredFont& font) {
  return {&font.familyName, &font.nativeFamilyName};
}

// A collection built from several matched fonts could pick a different face than the one ranked
// best, so narrow the set to that font when the platform can.
const FontSet& bestFontOnly(const RegisteredFont& font, const FontSet& matched,
                            FontSetRef& holder) {
  const AxisAwareFontSet* matched1 = matched.asAxisAware();
  if (!matched1) return matched;
  const uint32_t bestIndex[] = {bestMatchedFont(font, matched)};
  FontSetRef filtered = matched1->filteredFonts(bestIndex);
  if (!filtered || filtered->fontCount() != 1) return matched;
  holder = std::move(filtered);
  return *holder;
}

std::u16string chooseFamilyName(const RegisteredFont& font, const FontSet& fonts,
                                const FontCollection& collection) {
  for (const std::u16string* name : familyNamesOf(font)) {
    if (!name->empty() && collection.findFamilyName(*name)) return *name;
  }
  for (FontPropertyId id : kFamilyNamingOrder) {
    std::shared_ptr<const LocalizedStrings> values = fonts.propertyValues(0, id);
    std::u16string name = pickLocalizedString(values.get());
    if (!name.empty() && collection.findFamilyName(name)) return name;
  }
  // The collection's own first family needs no check: it is in the collection by construction.
  std::shared_ptr<const LocalizedStrings> names = collection.familyNames(0);
  return pickLocalizedString(names.get());
}

// True when the font's family names match installed fonts that could be adopted.
bool matchFamilyNames(const PlatformServices& platform, const RegisteredFont& font,
                      ResolvedFont& entry) {
  for (const std::u16string* name : familyNamesOf(font)) {
    if (name->empty()) continue;
    if (platform.systemAxisAwareFontSet()) {
      for (FontPropertyId id : kFamilyMatchOrder) {
        if (matchFontProperty(platform, font, id, *name, entry)) return true;
      }
    } else if (platform.systemFontSet()) {
      FontSetRef matched =
          platform.systemFontSet()->matchFamily(*name, font.weight, font.stretch, font.style);
      if (matched && adoptMatchedFonts(platform, font, *matched, entry)) return true;
    }
  }
  return false;
}

// Fonts that only GDI can supply (bitmap-only faces) are known to it by family name.
bool probeGdiFamily(const PlatformServices& platform, const RegisteredFont& font,
                    ResolvedFont& entry) {
  for (const std::u16string* name : familyNamesOf(font)) {
    if (name->empty()) continue;
    std::unique_ptr<GdiFont> probe =
        createGdiFont(platform.backend().gdi(), *name, font.weight, font.style != kStyleNormal,
                      kGdiProbeFontSize, kGdiProbeDpiScale);
    if (!probe) continue;
    entry.kind = FontKind::kGdi;
    entry.familyName = *name;
    entry.found = true;
    entry.error.clear();
    return true;
  }
  return false;
}

}  // namespace

uint32_t bestMatchedFont(const RegisteredFont& font, const FontSet& matched) {
  const uint32_t count = matched.fontCount();
  if (count <= 1) return 0;
  std::vector<CandidateStyle> candidates;
  candidates.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    std::optional<CandidateStyle> style = candidateStyle(matched, i);
    // A set that cannot describe its fonts keeps the platform's order.
    if (!style) return 0;
    candidates.push_back(*style);
  }
  return bestCandidate(candidates, font);
}

std::u16string pickLocalizedString(const LocalizedStrings* strings) {
  if (!strings || strings->count() == 0) return {};
  uint32_t index = 0;
  if (!strings->findLocaleName(kPreferredLocale, &index)) index = 0;
  std::u16string text;
  if (!strings->getString(index, &text)) return {};
  return text;
}

bool adoptMatchedFonts(const PlatformServices& platform, const RegisteredFont& font,
                       const FontSet& matched, ResolvedFont& entry) {
  if (matched.fontCount() == 0) return false;
  FontSetRef holder;
  const FontSet& fonts = bestFontOnly(font, matched, holder);
  if (fonts.fontCount() == 0) return false;

  FontCollectionRef collection =
      platform.textEngine() ? platform.textEngine()->createFontCollection(fonts) : nullptr;
  if (!collection || collection->familyCount() == 0) {
    entry.error = errors::kFontCollectionCreateFailed;
    return false;
  }
  std::u16string familyName = chooseFamilyName(font, fonts, *collection);
  if (familyName.empty()) {
    entry.error = errors::kFontFamilyNameFailed;
    return false;
  }
  entry.kind = FontKind::kDirectWrite;
  entry.familyName = std::move(familyName);
  entry.fontCollection = std::move(collection);
  entry.found = true;
  entry.error.clear();
  return true;
}

bool matchFontProperty(const PlatformServices& platform, const RegisteredFont& font,
                       FontPropertyId id, std::u16string_view value, ResolvedFont& entry) {
  if (value.empty()) return false;
  const FontProperty property{id, value};
  FontSetRef matched;
  if (platform.systemAxisAwareFontSet()) {
    matched = platform.systemAxisAwareFontSet()->matchProperty(property, font.axisValues);
  } else if (platform.systemFontSet()) {
    matched = platform.systemFontSet()->matchProperty(property);
  }
  if (!matched) return false;
  return adoptMatchedFonts(platform, font, *matched, entry);
}

void resolveFontEntry(const PlatformServices& platform, const FontRegistry& registry,
                      const std::u16string& fontId, ResolvedFont& entry) {
  const RegisteredFont* font = registry.findRegisteredFont(fontId);
  if (!font) {
    entry.error = errors::kFontNotRegistered;
    return;
  }
  // Copied before matching so that a failed entry still describes the registered font.
  entry.weight = font->weight;
  entry.stretch = font->stretch;
  entry.style = font->style;
  entry.axisValues = font->axisValues;

  const bool matched =
      matchFontProperty(platform, *font, FontPropertyId::kPostScriptName, font->postScriptName,
                        entry) ||
      matchFontProperty(platform, *font, FontPropertyId::kFullName, font->fullName, entry) ||
      matchFontProperty(platform, *font, FontPropertyId::kFullName, font->nativeFullName, entry) ||
      matchFamilyNames(platform, *font, entry);
  if (!matched) probeGdiFamily(platform, *font, entry);

  // A recorded adoption failure says more than "not found", so it is kept.
  if (!entry.found && entry.error.empty()) entry.error = errors::kFontNotFound;
}

std::vector<std::u16string> parseFontIds(const JsonObject& request) {
  std::vector<std::u16string> ids;
  const std::optional<JsonArray> array = request.findNamedArray(u"fontIds");
  if (!array) return ids;
  const uint32_t size = array->size();
  try {
    for (uint32_t i = 0; i < size; ++i) {
      // An element that is not a string is skipped; the rest of the list still counts.
      if (std::optional<std::u16string> id = array->findStringAt(i)) ids.push_back(std::move(*id));
    }
  } catch (...) {
    // Whatever stops the reading, the ids read so far are the request's list.
  }
  return ids;
}

}  // namespace kfp
