// The backend as the renderer context acquires it: initialisation, its test switches and the
// memory figure.
#include "platform/windows/windows_backend.h"

#include <memory>
#include <vector>

#include "host/renderer_context.h"
#include "windows/windows_test_support.h"

namespace kfp {
namespace {

using windows_test::ScopedEnvironment;

TEST(WindowsBackend, InitializeAcquiresEveryService) {
  auto backend = createWindowsBackend();
  RendererContext context(*backend);
  ASSERT_TRUE(context.initialize());
  EXPECT_TRUE(context.platform().textEngine());
  ASSERT_TRUE(context.platform().systemFontSet());
  EXPECT_GT(context.platform().systemFontSet()->fontCount(), 0u);
  EXPECT_TRUE(context.platform().graphics());
}

TEST(WindowsBackend, FailSwitchMakesInitializeFailBeforeAnyService) {
  const ScopedEnvironment fail("KFP_TEST_FAIL_INITIALIZE", "1");
  auto backend = createWindowsBackend();
  RendererContext context(*backend);
  EXPECT_FALSE(context.initialize());
  EXPECT_FALSE(context.platform().systemFontSet());
  EXPECT_FALSE(context.platform().graphics());
}

TEST(WindowsBackend, FailSwitchOtherValuesAreIgnored) {
  const ScopedEnvironment fail("KFP_TEST_FAIL_INITIALIZE", "0");
  auto backend = createWindowsBackend();
  EXPECT_TRUE(backend->createTextEngine());
}

TEST(WindowsBackend, HideSwitchRemovesTheVersion1FontSet) {
  const ScopedEnvironment hide("KFP_TEST_HIDE_FONTSET1", "1");
  auto backend = createWindowsBackend();
  RendererContext context(*backend);
  ASSERT_TRUE(context.initialize());
  ASSERT_TRUE(context.platform().systemFontSet());
  EXPECT_EQ(context.platform().systemAxisAwareFontSet(), nullptr);
  // Sets that matching returns are hidden too, so no step reaches a version-1 call.
  FontSetRef matched = context.platform().systemFontSet()->matchProperty(
      {FontPropertyId::kWin32FamilyName, u"DejaVu Sans"});
  if (matched) {
    EXPECT_EQ(matched->asAxisAware(), nullptr);
  }
}

TEST(WindowsBackend, SystemFontSetOffersVersion1WithoutTheSwitch) {
  auto backend = createWindowsBackend();
  RendererContext context(*backend);
  ASSERT_TRUE(context.initialize());
  EXPECT_NE(context.platform().systemAxisAwareFontSet(), nullptr);
}

TEST(WindowsBackend, PrivateBytesSwitch) {
  struct Row {
    const char* value;
    bool forced;
    uint64_t bytes;
  };
  const Row rows[] = {
      {"268435457", true, 268435457u},
      {"0", true, 0u},
      {"18446744073709551615", true, UINT64_MAX},
      {"12x", false, 0},
      {"-5", false, 0},
      {"", false, 0},
      {"18446744073709551616", false, 0},  // out of range: ignored rather than wrapped
  };
  auto backend = createWindowsBackend();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.value);
    const ScopedEnvironment bytes("KFP_TEST_PRIVATE_BYTES", row.value);
    if (row.forced) {
      EXPECT_EQ(backend->privateBytes(), row.bytes);
    } else if (!windows_test::runningUnderWine()) {
      EXPECT_GT(backend->privateBytes(), 0u);  // the process's own figure
    } else {
      EXPECT_EQ(backend->privateBytes(), 0u);  // Wine 8 keeps PrivateUsage at 0
    }
  }
}

TEST(WindowsBackend, PrivateBytesFollowsCommittedMemory) {
  KFP_SKIP_UNDER_WINE("PrivateUsage is always 0");
  auto backend = createWindowsBackend();
  const uint64_t before = backend->privateBytes();
  ASSERT_GT(before, 0u);
  constexpr size_t kGrowth = 64u << 20;
  std::vector<char> block(kGrowth, 1);  // written, so committed
  const uint64_t during = backend->privateBytes();
  EXPECT_GE(during, before + kGrowth / 2);
  block = {};
  block.shrink_to_fit();
  backend->releaseFreeMemory();
  EXPECT_LT(backend->privateBytes(), during);
}

}  // namespace
}  // namespace kfp
