// Registration batches from arbitrary JSON: parsing a descriptor must never fail or crash, and a
// rejected batch must leave the staged set untouched.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "base/json.h"
#include "fonts/font_registry.h"
#include "support/font_registry_probe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kfp;
  try {
    const JsonObject root =
        JsonObject::parse(std::string_view(reinterpret_cast<const char*>(data), size));
    const std::optional<JsonArray> found = root.findNamedArray(u"fonts");
    if (!found) return 0;
    const JsonArray& fonts = *found;
    FontRegistry registry;
    registry.beginRegistration(kMaxRegisteredFonts);
    const bool accepted = registry.addFontBatch(fonts, size % 2 == 0);
    if (!accepted && !FontRegistryProbe::stagedFonts(registry).empty()) std::abort();
    for (const auto& [id, font] : FontRegistryProbe::stagedFonts(registry)) {
      if (id.empty() || font.axisValues.empty() || font.weight < 1 || font.weight > 999) {
        std::abort();
      }
    }
  } catch (const JsonError&) {
  }
  return 0;
}
