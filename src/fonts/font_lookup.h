#pragma once
// Turning a requested font id into something a layout can use.

#include <string>
#include <vector>

#include "fonts/resolved_font.h"

namespace kfp {

class JsonObject;
class FontRegistry;
class PlatformServices;

// The "fontIds" of a request, in order, duplicates and empty strings kept; non-strings skipped.
std::vector<std::u16string> parseFontIds(const JsonObject& request);

// Fills a fresh cache entry for the id; never raises for a platform failure.
void resolveFontEntry(const PlatformServices& platform, const FontRegistry& registry,
                      const std::u16string& fontId, ResolvedFont& entry);

}  // namespace kfp
