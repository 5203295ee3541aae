#include "layout/resolved_font_cache.h"

#include "fonts/font_lookup.h"

namespace kfp {

ResolvedFont& ResolvedFontCache::resolveFont(const PlatformServices& platform,
                                             const FontRegistry& registry,
                                             const std::u16string& fontId) {
  ResolvedFont& entry = entries_[fontId];
  if (entry.computed) return entry;
  // Marked first so that a failure is remembered like a success until the next clear.
  entry.computed = true;
  resolveFontEntry(platform, registry, fontId, entry);
  return entry;
}

void ResolvedFontCache::clear() {
  // Swapped rather than cleared so that the bucket array is freed too: the memory guard relies on
  // a clear giving memory back.
  std::unordered_map<std::u16string, ResolvedFont>().swap(entries_);
}

}  // namespace kfp
