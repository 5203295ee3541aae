#include <fcntl.h>
#include <fontconfig/fontconfig.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <string_view>
#include <thread>
#include <tuple>

#include "base/utf8.h"
#include "platform/linux/c_handles.h"
#include "platform/linux/fonts/face_name_reader.h"
#include "platform/linux/fonts/font_index_names.h"
#include "platform/linux/fonts/font_index_variations.h"
#include "platform/linux/fonts/fontconfig_listing.h"
#include "platform/linux/gdi/gdi_default_family.h"

namespace kfp::linux_backend {
namespace {

const char* patternString(FcPattern* pattern, const char* object, int n) {
  FcChar8* value = nullptr;
  if (FcPatternGetString(pattern, object, n, &value) != FcResultMatch) return nullptr;
  return reinterpret_cast<const char*>(value);
}

bool patternBool(FcPattern* pattern, const char* object, bool fallback) {
  FcBool value = FcFalse;
  if (FcPatternGetBool(pattern, object, 0, &value) != FcResultMatch) return fallback;
  return value == FcTrue;
}

// The values of a string object with the parallel language object (familylang, fullnamelang).
std::vector<LocalizedName> localizedStrings(FcPattern* pattern, const char* object,
                                            const char* languageObject) {
  std::vector<LocalizedName> names;
  for (int n = 0;; ++n) {
    const char* text = patternString(pattern, object, n);
    if (!text) break;
    const char* language = patternString(pattern, languageObject, n);
    addUniqueName(names, {localeFromLanguage(language ? language : ""), utf8ToUtf16(text)});
  }
  return names;
}

// "Bold" as a word of its own, in any case: not the "bold" of "SemiBold" or "ExtraBold".
bool hasWordBold(std::string_view styleName) {
  auto isLetter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  for (size_t at = 0; at + 4 <= styleName.size(); ++at) {
    const bool starts = at == 0 || !isLetter(styleName[at - 1]);
    const bool ends = at + 4 == styleName.size() || !isLetter(styleName[at + 4]);
    if (!starts || !ends) continue;
    bool same = true;
    for (size_t i = 0; i < 4; ++i) same = same && (styleName[at + i] | 0x20) == "bold"[i];
    if (same) return true;
  }
  return false;
}

std::optional<FontRecord> recordFromPattern(FcPattern* pattern) {
  const char* file = patternString(pattern, FC_FILE, 0);
  if (!file) return std::nullopt;
  FontRecord record;
  record.path = file;
  int index = 0;
  FcPatternGetInteger(pattern, FC_INDEX, 0, &index);
  record.faceIndex = uint32_t(index) & 0xFFFF;
  record.namedInstance = uint32_t(index) >> 16;
  record.color = patternBool(pattern, FC_COLOR, false);
  // Colour bitmap fonts (CBDT) scale, although they have no outlines.
  record.scalable = patternBool(pattern, FC_SCALABLE, true) || record.color;

  double value = 0;
  if (FcPatternGetDouble(pattern, FC_WEIGHT, 0, &value) == FcResultMatch) {
    record.weight = weightFromFontconfig(value);
  }
  if (FcPatternGetDouble(pattern, FC_WIDTH, 0, &value) == FcResultMatch) {
    record.stretch = stretchFromFontconfig(value);
  }
  int slant = FC_SLANT_ROMAN;
  if (FcPatternGetInteger(pattern, FC_SLANT, 0, &slant) == FcResultMatch) {
    record.style = styleFromFontconfig(slant);
  }

  for (int n = 0; const char* styleName = patternString(pattern, FC_STYLE, n); ++n) {
    record.namedBold = record.namedBold || hasWordBold(styleName);
  }
  if (const char* postScript = patternString(pattern, FC_POSTSCRIPT_NAME, 0)) {
    record.postScriptName = utf8ToUtf16(postScript);
  }
  record.fullNames = localizedStrings(pattern, FC_FULLNAME, FC_FULLNAMELANG);
  assignFamilyKinds(localizedStrings(pattern, FC_FAMILY, FC_FAMILYLANG), record);
  return record;
}

using FaceKey = std::pair<std::string, uint32_t>;

// fontconfig prints configuration warnings on standard error, which the renderer keeps empty.
// Loading happens once, at startup, before any other thread exists.
class StderrSilenced {
 public:
  StderrSilenced() {
    int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (devNull < 0) return;
    saved_ = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
    if (saved_ >= 0) ::dup2(devNull, STDERR_FILENO);
    ::close(devNull);
  }
  ~StderrSilenced() {
    if (saved_ < 0) return;
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
  }
  StderrSilenced(const StderrSilenced&) = delete;
  StderrSilenced& operator=(const StderrSilenced&) = delete;

 private:
  int saved_ = -1;
};

}  // namespace

int weightFromFontconfig(double fcWeight) {
  return std::clamp(int(std::lround(FcWeightToOpenTypeDouble(fcWeight))), 1, 999);
}

int stretchFromFontconfig(double fcWidth) {
  return stretchFromWidthPercent(fcWidth);
}

int styleFromFontconfig(int fcSlant) {
  if (fcSlant >= FC_SLANT_OBLIQUE) return kStyleOblique;
  if (fcSlant >= FC_SLANT_ITALIC) return kStyleItalic;
  return kStyleNormal;
}

void assignFamilyKinds(const std::vector<LocalizedName>& fontconfigFamilies, FontRecord& record) {
  std::vector<std::u16string> locales;
  for (const LocalizedName& name : fontconfigFamilies) {
    if (std::find(locales.begin(), locales.end(), name.locale) == locales.end()) {
      locales.push_back(name.locale);
    }
  }
  for (const std::u16string& locale : locales) {
    std::vector<const std::u16string*> texts;
    for (const LocalizedName& name : fontconfigFamilies) {
      if (name.locale == locale) texts.push_back(&name.text);
    }
    const std::u16string& wws = *texts.front();
    const std::u16string& typographic = texts.size() >= 3 ? *texts[1] : *texts.front();
    const std::u16string& legacy = *texts.back();
    addUniqueName(record.wwsFamilyNames, {locale, wws});
    addUniqueName(record.typographicFamilyNames, {locale, typographic});
    addUniqueName(record.win32FamilyNames, {locale, legacy});
  }
}

std::optional<InstalledFonts> listInstalledFonts() {
  FcConfigPtr config;
  InstalledFonts installed;
  {
    // Substitution can warn about the configuration's rules too, so it runs under the same guard.
    StderrSilenced silenced;
    config.reset(FcInitLoadConfigAndFonts());
    if (config) installed.sansFamilies = defaultSansFamilies(*config);
  }
  if (!config) return std::nullopt;
  // The index is a snapshot: never let fontconfig stat font directories again.
  FcConfigSetRescanInterval(config.get(), 0);

  // The configuration's own font sets, read in place: the patterns of its caches, which a listing
  // (FcFontList) would copy, object by object, only for the copies to be freed again.
  FcFontSet* const sets[] = {FcConfigGetFonts(config.get(), FcSetSystem),
                             FcConfigGetFonts(config.get(), FcSetApplication)};
  size_t listed = 0;
  for (const FcFontSet* set : sets) listed += set ? size_t(set->nfont) : 0;

  std::vector<FontRecord>& records = installed.records;
  records.reserve(listed);
  std::vector<FaceKey> variableKeys;
  for (const FcFontSet* set : sets) {
    for (int i = 0; set && i < set->nfont; ++i) {
      FcPattern* pattern = set->fonts[i];
      if (patternBool(pattern, FC_VARIABLE, false)) {
        // The whole-file pattern of a variable font duplicates its default instance; it only
        // tells us that the face has axes.
        if (const char* file = patternString(pattern, FC_FILE, 0)) {
          int index = 0;
          FcPatternGetInteger(pattern, FC_INDEX, 0, &index);
          variableKeys.push_back({file, uint32_t(index) & 0xFFFF});
        }
        continue;
      }
      if (std::optional<FontRecord> record = recordFromPattern(pattern)) {
        records.push_back(std::move(*record));
      }
    }
  }
  config.reset();  // the index keeps everything it needs; give fontconfig's memory back

  std::sort(records.begin(), records.end(), [](const FontRecord& a, const FontRecord& b) {
    return std::tie(a.path, a.faceIndex, a.namedInstance) <
           std::tie(b.path, b.faceIndex, b.namedInstance);
  });
  records.erase(std::unique(records.begin(), records.end(),
                            [](const FontRecord& a, const FontRecord& b) {
                              return a.path == b.path && a.faceIndex == b.faceIndex &&
                                     a.namedInstance == b.namedInstance;
                            }),
                records.end());

  // Names fontconfig merged away are in each face's name table. They are read when a record is
  // first used or a name other than a PostScript name is looked up (FontIndex), except for
  // variable faces, whose instances' full names are built from them here.
  installed.ownNamesPending.assign(records.size(), true);
  std::sort(variableKeys.begin(), variableKeys.end());
  variableKeys.erase(std::unique(variableKeys.begin(), variableKeys.end()), variableKeys.end());
  std::vector<std::pair<size_t, size_t>> variableGroups;
  for (const FaceKey& key : variableKeys) {
    auto first = std::lower_bound(
        records.begin(), records.end(), key, [](const FontRecord& r, const FaceKey& k) {
          return std::tie(r.path, r.faceIndex) < std::tie(k.first, k.second);
        });
    auto end = first;
    while (end != records.end() && end->path == key.first && end->faceIndex == key.second) ++end;
    if (first == end) continue;
    variableGroups.push_back({size_t(first - records.begin()), size_t(end - records.begin())});
    std::fill(installed.ownNamesPending.begin() + (first - records.begin()),
              installed.ownNamesPending.begin() + (end - records.begin()), false);
  }
  addOwnNamesOfGroups(records, variableGroups, nameReadingThreads());
  for (const auto& [first, end] : variableGroups) {
    std::optional<VariableFaceData> data =
        readVariableFace(records[first].path, records[first].faceIndex);
    if (!data) continue;
    for (size_t i = first; i < end; ++i) applyVariableFace(*data, records[i]);
  }
  return installed;
}

}  // namespace kfp::linux_backend
