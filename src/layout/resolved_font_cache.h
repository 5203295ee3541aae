#pragma once
// The resolved-font cache: one entry per font id, kept until the whole cache is cleared.

#include <string>
#include <unordered_map>

#include "fonts/resolved_font.h"

namespace kfp {

class FontRegistry;
class PlatformServices;

class ResolvedFontCache {
 public:
  // The entry for the id, resolved on first use. The reference stays valid until clear().
  ResolvedFont& resolveFont(const PlatformServices& platform, const FontRegistry& registry,
                            const std::u16string& fontId);
  void clear();
  size_t size() const { return entries_.size(); }

 private:
  std::unordered_map<std::u16string, ResolvedFont> entries_;
};

}  // namespace kfp
