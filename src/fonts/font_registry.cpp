#include "fonts/font_registry.h"

#include <optional>

#include "base/json.h"
#include "fonts/descriptor_parser.h"

namespace kfp {

void FontRegistry::beginRegistration(uint64_t expected) {
  stagedFonts_.clear();
  receivedCount_ = 0;
  expectedCount_ = expected;
  registrationOpen_ = true;
}

bool FontRegistry::addFont(std::u16string fontId, RegisteredFont font) {
  if (!registrationOpen_ || receivedCount_ >= expectedCount_ || fontId.empty()) return false;
  // A repeat of an earlier chunk or of an earlier element of this one is refused alike.
  if (!stagedFonts_.try_emplace(std::move(fontId), std::move(font)).second) return false;
  ++receivedCount_;
  return true;
}

bool FontRegistry::addFontBatch(const JsonArray& fonts, bool isChunk) {
  if (!registrationOpen_) return false;
  const uint32_t n = fonts.size();
  if (isChunk && n > kMaxChunkFonts) return false;
  if (receivedCount_ > expectedCount_) return false;
  if (n > expectedCount_ - receivedCount_) return false;

  stagedFonts_.reserve(stagedFonts_.size() + n);
  uint32_t i = 0;
  try {
    for (; i < n; ++i) {
      const std::optional<JsonObject> element = fonts.findObjectAt(i);
      if (!element) return rollBack(fonts, i);
      if (!addFont(element->getNamedString(u"fontId"), parseFontDescriptor(*element))) {
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
  return true;
}

bool FontRegistry::rollBack(const JsonArray& fonts, uint32_t inserted) {
  // Elements before `inserted` were objects with new, distinct ids: exactly what to take out.
  for (uint32_t i = 0; i < inserted; ++i) {
    stagedFonts_.erase(fonts.objectAt(i).getNamedString(u"fontId"));
    --receivedCount_;
  }
  return false;
}

bool FontRegistry::commitRegistration() {
  if (!registrationOpen_ || receivedCount_ != expectedCount_ ||
      stagedFonts_.size() != expectedCount_) {
    return false;
  }
  activeFonts_.swap(stagedFonts_);
  stagedFonts_.clear();
  registrationOpen_ = false;
  receivedCount_ = 0;
  expectedCount_ = 0;
  return true;
}

void FontRegistry::abandonRegistration() {
  stagedFonts_.clear();
  registrationOpen_ = false;
  receivedCount_ = 0;
  expectedCount_ = 0;
}

void FontRegistry::clear() {
  abandonRegistration();
  activeFonts_.clear();
}

const RegisteredFont* FontRegistry::findRegisteredFont(const std::u16string& fontId) const {
  auto it = activeFonts_.find(fontId);
  return it == activeFonts_.end() ? nullptr : &it->second;
}

}  // namespace kfp
