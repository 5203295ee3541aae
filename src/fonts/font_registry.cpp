#include "fonts/font_registry.h"

#include <optional>

#include "fonts/descriptor_parser.h"
#include "platform/json.h"

namespace kfp {

void FontRegistry::beginRegistration(uint64_t expected) {
  stagedFonts.clear();
  receivedCount = 0;
  expectedCount = expected;
  registrationOpen = true;
}

bool FontRegistry::addFontBatch(const JsonArray& fonts, bool isChunk) {
  if (!registrationOpen) return false;
  const uint32_t n = fonts.size();
  if (isChunk && n > kMaxChunkFonts) return false;
  if (receivedCount > expectedCount) return false;
  if (n > expectedCount - receivedCount) return false;

  stagedFonts.reserve(stagedFonts.size() + n);
  uint32_t i = 0;
  try {
    for (; i < n; ++i) {
      const std::optional<JsonObject> element = fonts.findObjectAt(i);
      if (!element) return rollBack(fonts, i);
      std::u16string id = element->getNamedString(u"fontId");
      if (id.empty()) return rollBack(fonts, i);
      // A repeat of an earlier chunk or of an earlier element of this one is refused alike.
      if (!stagedFonts.try_emplace(std::move(id), parseFontDescriptor(*element)).second) {
        return rollBack(fonts, i);
      }
    }
  } catch (...) {
    // Out of memory part-way: the staged set must still match the received count.
    try {
      rollBack(fonts, i);
    } catch (...) {
      abandonRegistration();
    }
    throw;
  }
  receivedCount += n;
  return true;
}

bool FontRegistry::rollBack(const JsonArray& fonts, uint32_t inserted) {
  // Elements before `inserted` were objects with new, distinct ids: exactly what to take out.
  for (uint32_t i = 0; i < inserted; ++i) {
    stagedFonts.erase(fonts.objectAt(i).getNamedString(u"fontId"));
  }
  return false;
}

bool FontRegistry::commitRegistration() {
  if (!registrationOpen || receivedCount != expectedCount || stagedFonts.size() != expectedCount) {
    return false;
  }
  activeFonts.swap(stagedFonts);
  stagedFonts.clear();
  registrationOpen = false;
  receivedCount = 0;
  expectedCount = 0;
  return true;
}

void FontRegistry::abandonRegistration() {
  stagedFonts.clear();
  registrationOpen = false;
  receivedCount = 0;
  expectedCount = 0;
}

const RegisteredFont* FontRegistry::findRegisteredFont(const std::u16string& fontId) const {
  auto it = activeFonts.find(fontId);
  return it == activeFonts.end() ? nullptr : &it->second;
}

}  // namespace kfp
