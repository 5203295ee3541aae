#pragma once
// Installed fonts a test relies on. A missing one skips the test on a developer's machine, but
// fails it in CI (CI set) and wherever KFP_REQUIRE_FONTS=1, so that a machine without the fonts
// cannot pass the suite by skipping. Skips for what a platform lacks are not font skips: they
// stay skips everywhere.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string_view>

namespace kfp::test {

// CI=true (or any value but empty, "0" and "false") or KFP_REQUIRE_FONTS=1.
inline bool installedFontsRequired() {
  const char* ci = std::getenv("CI");
  const char* require = std::getenv("KFP_REQUIRE_FONTS");
  const bool inCi = ci && *ci && std::string_view(ci) != "0" && std::string_view(ci) != "false";
  return inCi || (require && std::string_view(require) == "1");
}

}  // namespace kfp::test

// Ends the current test (or fixture SetUp) when `present` is false: a failure when installed fonts
// are required, a skip otherwise. A macro because both must return from the caller.
#define KFP_REQUIRE_INSTALLED_FONT(present, what)             \
  do {                                                        \
    if (!(present)) {                                         \
      if (::kfp::test::installedFontsRequired()) {            \
        GTEST_FAIL() << "installed font missing: " << (what); \
      }                                                       \
      GTEST_SKIP() << "installed font missing: " << (what);   \
    }                                                         \
  } while (0)
