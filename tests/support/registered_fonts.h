#pragma once
// Makes chosen descriptors the active registered set, through the registry's own registration.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "fonts/font_registry.h"

namespace kfp::testing {

inline void activateFonts(FontRegistry& registry,
                          std::vector<std::pair<std::u16string, RegisteredFont>> fonts) {
  registry.beginRegistration(fonts.size());
  for (auto& [id, font] : fonts) ASSERT_TRUE(registry.addFont(id, std::move(font)));
  ASSERT_TRUE(registry.commitRegistration());
}

}  // namespace kfp::testing
