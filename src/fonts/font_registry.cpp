#include "fonts/font_registry.h"

#include <optional>
#include <unordered_set>
#include <vector>

#include "fonts/descriptor_parser.h"
#include "platform/error.h"
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

  // Parsed completely before anything is inserted, so a rejection leaves the staged set as it was.
  std::vector<std::pair<std::u16string, RegisteredFont>> batch;
  batch.reserve(n);  // no reallocation: batchIds views the ids in place
  std::unordered_set<std::u16string_view> batchIds;
  batchIds.reserve(n);
  for (uint32_t i = 0; i < n; ++i) {
    std::optional<JsonObject> element;
    try {
      element = fonts.objectAt(i);
    } catch (const hresult_error&) {
      return false;
    }
    std::u16string id = element->getNamedString(u"fontId");
    if (id.empty() || stagedFonts.count(id) != 0) return false;
    batch.emplace_back(std::move(id), parseFontDescriptor(*element));
    if (!batchIds.insert(batch.back().first).second) return false;
  }

  stagedFonts.reserve(stagedFonts.size() + batch.size());
  for (auto& [id, font] : batch) stagedFonts.emplace(std::move(id), std::move(font));
  receivedCount += n;
  return true;
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
