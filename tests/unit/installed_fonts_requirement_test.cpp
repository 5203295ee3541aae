// When a missing installed font fails a test instead of skipping it.

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>

#include "support/installed_fonts.h"

namespace kfp::test {
namespace {

// Sets or clears one environment variable for the scope, then restores it.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(InstalledFontsRequired, InCiOrWhenAskedFor) {
  struct Case {
    const char* ci;
    const char* require;
    bool required;
  };
  const Case cases[] = {
      {nullptr, nullptr, false}, {"true", nullptr, true},   {"1", nullptr, true},
      {"", nullptr, false},      {"false", nullptr, false}, {"0", nullptr, false},
      {nullptr, "1", true},      {nullptr, "0", false},     {nullptr, "", false},
      {"false", "1", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "CI=" << (c.ci ? c.ci : "(unset)") << " KFP_REQUIRE_FONTS="
                                      << (c.require ? c.require : "(unset)"));
    ScopedEnv ci("CI", c.ci);
    ScopedEnv require("KFP_REQUIRE_FONTS", c.require);
    EXPECT_EQ(installedFontsRequired(), c.required);
  }
}

void requireAMissingFont() {
  KFP_REQUIRE_INSTALLED_FONT(false, "Kfp Missing Sans");
}

TEST(InstalledFontsRequired, AMissingFontIsAFailureWhenRequired) {
  ScopedEnv ci("CI", nullptr);
  ScopedEnv require("KFP_REQUIRE_FONTS", "1");
  EXPECT_FATAL_FAILURE(requireAMissingFont(), "installed font missing: Kfp Missing Sans");
}

TEST(InstalledFontsRequired, APresentFontLetsTheTestGoOn) {
  ScopedEnv require("KFP_REQUIRE_FONTS", "1");
  bool reached = false;
  [&] {
    KFP_REQUIRE_INSTALLED_FONT(true, "Kfp Present Sans");
    reached = true;
  }();
  EXPECT_TRUE(reached);
  EXPECT_FALSE(::testing::Test::HasFailure());
}

}  // namespace
}  // namespace kfp::test
