#pragma once
// The staged state of a font registry, which only tests read.

#include "fonts/font_registry.h"

namespace kfp {

class FontRegistryProbe {
 public:
  static bool registrationOpen(const FontRegistry& r) { return r.registrationOpen_; }
  static uint64_t expectedCount(const FontRegistry& r) { return r.expectedCount_; }
  static const FontMap& stagedFonts(const FontRegistry& r) { return r.stagedFonts_; }
};

}  // namespace kfp
