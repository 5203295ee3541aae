#pragma once
// The active and staged sets of registered fonts, and the registration primitives.

#include <cstdint>
#include <string>
#include <unordered_map>

#include "fonts/registered_font.h"

namespace kfp {

class JsonArray;

using FontMap = std::unordered_map<std::u16string, RegisteredFont>;

constexpr uint64_t kMaxRegisteredFonts = 50000;
constexpr uint32_t kMaxChunkFonts = 250;

class FontRegistry {
 public:
  // Starts a registration expecting `expected` fonts; any open one is discarded.
  void beginRegistration(uint64_t expected);
  // Adds one array of descriptors to the staged set, all or nothing.
  bool addFontBatch(const JsonArray& fonts, bool isChunk);
  // Stages one font of an open registration; false when none is open, the expected count is
  // reached, or the id is empty or already staged.
  bool addFont(std::u16string fontId, RegisteredFont font);
  // Makes the staged set active when the registration is complete. The caller clears the
  // resolved-font cache on success.
  bool commitRegistration();
  void abandonRegistration();
  // Drops both sets and any open registration.
  void clear();
  const RegisteredFont* findRegisteredFont(const std::u16string& fontId) const;

  uint64_t activeCount() const { return activeFonts_.size(); }
  // How many fonts the open registration has received.
  uint64_t receivedCount() const { return receivedCount_; }

 private:
  friend class FontRegistryProbe;  // tests read the staged state through it

  // Removes what a rejected batch had inserted, so that the staged set is as it was; returns false.
  bool rollBack(const JsonArray& fonts, uint32_t inserted);

  FontMap activeFonts_;
  // Invariant: stagedFonts_.size() == receivedCount_ <= expectedCount_ while a registration is
  // open; all three empty or zero otherwise.
  FontMap stagedFonts_;
  uint64_t receivedCount_ = 0;
  uint64_t expectedCount_ = 0;
  bool registrationOpen_ = false;
};

}  // namespace kfp
