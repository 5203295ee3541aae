// The memory guard on the real renderer, without any test switch: many distinct font ids fill the
// resolved-font cache (each holds an opened face) until the renderer's own memory crosses the
// limits.

#include "host/memory_guard.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "host/message_loop.h"
#include "protocol/messages.h"
#include "support/e2e_renderer.h"

namespace kfp::test {
namespace {

using client::FontDescriptor;
using client::LayoutRequest;

constexpr size_t kIds = 20000;

class MemoryGuardTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef KFP_SANITIZED
    GTEST_SKIP() << "sanitizer shadow memory and quarantine distort the renderer's memory figure";
#endif
    ASSERT_TRUE(session_.started());
    std::vector<FontDescriptor> fonts;
    for (size_t i = 0; i < kIds; ++i) {
      fonts.push_back({.fontId = "id" + std::to_string(i), .familyName = "DejaVu Sans"});
    }
    ASSERT_TRUE(session_.client().registerFontsAndWait(fonts));
  }

  // Resolves ids [first, first + count) in one Measure.
  void resolve(size_t first, size_t count) {
    LayoutRequest r;
    r.generation = 1;
    r.text = "Hi";
    for (size_t i = first; i < first + count; ++i) r.fontIds.push_back("id" + std::to_string(i));
    const auto result = session_.client().measureAndWait(r);
    ASSERT_TRUE(result) << result.failure.what;
    ASSERT_TRUE(result.value->items.back().resolved) << result.value->items.back().error;
  }

  uint64_t memory() {
    return anonymousBytes(session_.process().pid());
  }

  RendererSession session_{kRendererPath};
};

TEST_F(MemoryGuardTest, SoftLimitDropsTheCacheAndTheRendererGoesOn) {
  size_t next = 0;
  while (memory() <= kSoftMemoryLimit + (8u << 20)) {
    ASSERT_LT(next, kIds) << "the cache never reached the soft limit";
    resolve(next, 500);
    next += 500;
  }
  ASSERT_LT(memory(), kHardMemoryLimit);
  // The next frame finds the renderer above the soft limit: the cache goes, the Ping is answered.
  EXPECT_TRUE(session_.expectNothingPending());
  EXPECT_LT(memory(), kSoftMemoryLimit / 2);
  resolve(0, 10);
  EXPECT_TRUE(session_.expectCleanEnd());
}

TEST_F(MemoryGuardTest, HardLimitEndsTheRendererWithFatalError) {
  // One request may grow far beyond the limit: the guard looks only when the next frame arrives.
  size_t next = 0;
  while (memory() <= kHardMemoryLimit + (8u << 20)) {
    ASSERT_LT(next + 8000, kIds) << "the cache never reached the hard limit";
    resolve(next, 8000);
    next += 8000;
  }
  ASSERT_TRUE(session_.client().shutdown());
  EXPECT_TRUE(session_.expectReply(kFatalError, R"({"error":"MEMORY_HARD_LIMIT"})"));
  EXPECT_TRUE(session_.expectExit(kExitMemoryHardLimit));
  EXPECT_TRUE(session_.expectStderrEmpty());
}

}  // namespace
}  // namespace kfp::test
