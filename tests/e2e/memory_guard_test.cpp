// The memory guard on the real renderer, without any test switch: many distinct font ids fill the
// resolved-font cache until the renderer's own memory crosses the limits. Ids that resolve to the
// same face share it, so the cache is filled with unregistered ids, whose failed entries are cached
// like any other.

#include "host/memory_guard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "protocol/exit_codes.h"
#include "protocol/frame.h"
#include "protocol/message_types.h"
#include "support/e2e_renderer.h"

namespace kfp::test {
namespace {

using client::FontDescriptor;
using client::LayoutRequest;

constexpr size_t kIds = 20000;
// Unregistered ids per filling Measure: the reply stays below the 8 MiB reply limit.
constexpr size_t kFillIds = 40000;

class MemoryGuardTest : public ::testing::Test {
 protected:
  void SetUp() override {
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
    ASSERT_TRUE(result) << result.error();
    ASSERT_TRUE(result->items.back().resolved) << result->items.back().error;
  }

  // Caches `count` more unregistered ids in one Measure, each `padding` characters longer than its
  // number; waits for its reply when `wait`.
  void fill(size_t count, bool wait = true, size_t padding = 0) {
    LayoutRequest r;
    r.generation = 1;
    r.text = "Hi";
    for (size_t i = 0; i < count; ++i) {
      r.fontIds.push_back(std::to_string(filled_ + i) + std::string(padding + 1, 'u'));
    }
    filled_ += count;
    if (!wait) {
      ASSERT_TRUE(session_.client().measure(r));
      return;
    }
    const auto result = session_.client().measureAndWait(r);
    ASSERT_TRUE(result) << result.error();
    ASSERT_EQ(result->items.back().error, "FONT_NOT_REGISTERED");
  }

  uint64_t memory() { return anonymousBytes(session_.process().pid()); }

  // Hundreds of thousands of cache entries per request: minutes under the sanitizers on a loaded
  // machine.
  RendererSession session_{kRendererPath, {}, client::Milliseconds(300000)};
  size_t filled_ = 0;
};

TEST_F(MemoryGuardTest, SoftLimitDropsTheCacheAndTheRendererGoesOn) {
  resolve(0, kIds);  // the registered ids all share one face: the cache stays small
  // A third, not less: a new font set keeps the memory it freed for the next registration, and the
  // sanitizers' allocator counts it (about 50 MiB there, 17 MiB without) until the guard purges it.
  ASSERT_LT(memory(), kSoftMemoryLimit / 3);
  // The next frame that finds the renderer above the soft limit after its trim of free memory
  // drops the cache, and the Ping is answered. The trim alone may take the figure back under the
  // limit (the sanitizers' allocator keeps 15 MiB and more free): then the cache rightly stays,
  // and the next fill goes further.
  bool dropped = false;
  for (int attempt = 0; attempt < 8 && !dropped; ++attempt) {
    while (memory() <= kSoftMemoryLimit + (8u << 20)) {
      ASSERT_LT(filled_, 100 * kFillIds) << "the cache never reached the soft limit";
      fill(kFillIds);
    }
    ASSERT_LT(memory(), kHardMemoryLimit);
    EXPECT_TRUE(session_.expectNothingPending());
    dropped = memory() < kSoftMemoryLimit / 2;
  }
  EXPECT_TRUE(dropped) << "the cache stayed above the soft limit";
  resolve(0, 10);
  EXPECT_TRUE(session_.expectCleanEnd());
}

TEST_F(MemoryGuardTest, HardLimitEndsTheRendererWithFatalError) {
  // One request may grow far beyond the limit: the guard looks only when the next frame arrives.
  // Up to just below the soft limit, where the cache is kept, with long ids: fewer entries to free
  // on the way out. Small steps, so that the guard's trim of freed memory cannot take the figure
  // back below the hard limit after the last request...
  uint64_t step = 0;
  for (uint64_t before = memory(); before + 2 * step < kSoftMemoryLimit; before = memory()) {
    fill(kFillIds / 4, true, 100);
    step = std::max<uint64_t>(step, memory() - before);
  }
  // ...then 700 000 ids in one request (7 MB of JSON); its reply is over the reply limit and
  // dropped, so the next frame is the first the guard sees afterwards.
  fill(700000, false);
  ASSERT_TRUE(session_.client().shutdown());
  EXPECT_TRUE(session_.expectReply(kFatalError, R"({"error":"MEMORY_HARD_LIMIT"})"));
  // Freeing a million cache entries on the way out takes seconds on a loaded machine.
  EXPECT_TRUE(session_.expectExit(kExitMemoryHardLimit, client::Milliseconds(60000)));
  EXPECT_TRUE(session_.expectStderrEmpty());
}

// Ping, and the very next frame is Pong. The wait covers the requests sent before, which take
// seconds on a loaded machine.
::testing::AssertionResult pongAfterSlowRequests(RendererSession& session) {
  if (!session.send(kPing, "")) return ::testing::AssertionFailure() << "Ping not sent";
  client::Frame frame;
  const client::ReadStatus status = session.client().receive(frame, client::Milliseconds(120000));
  if (status != client::ReadStatus::kFrame) {
    return ::testing::AssertionFailure() << client::readStatusName(status);
  }
  if (frame.type != kPong) {
    return ::testing::AssertionFailure() << "frame type " << int(frame.type) << " " << frame.json;
  }
  return ::testing::AssertionSuccess();
}

// A Measure naming this many ids is answered with a reply far above the 8 MiB limit, which is
// dropped. None of the ids is registered, so nothing of the request stays in the cache.
std::string oversizedMeasure(uint64_t generation) {
  constexpr size_t kManyIds = 900000;
  std::string json = R"({"generation":)" + std::to_string(generation) + R"(,"fontIds":[)";
  for (size_t i = 0; i < kManyIds; ++i) {
    if (i != 0) json.push_back(',');
    json += '"' + std::to_string(i) + '"';
  }
  json += "]}";
  return json;
}

TEST(MemoryFigureTest, FreedMemoryDoesNotCountAgainstTheLimits) {
#ifdef KFP_SANITIZED
  GTEST_SKIP() << "the sanitizer's allocator replaces glibc's, whose mmap threshold this is about";
#endif
  // After the first large reply glibc raises its mmap threshold: the second one comes from the
  // heap and stays resident when freed. Live memory is small, so the Ping must get its Pong.
  RendererSession session(kRendererPath);
  ASSERT_TRUE(session.started());
  for (uint64_t generation = 1; generation <= 2; ++generation) {
    ASSERT_TRUE(session.send(kMeasure, oversizedMeasure(generation)));
  }
  EXPECT_TRUE(pongAfterSlowRequests(session));
  EXPECT_TRUE(session.expectCleanEnd());
}

// The renderer's peak resident memory so far.
uint64_t peakResidentBytes(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stoull(line.substr(6)) * 1024;
  }
  return 0;
}

TEST(MemoryFigureTest, AReplyBoundToBeDroppedIsNotBuiltWhole) {
#ifdef KFP_SANITIZED
  GTEST_SKIP() << "redzones and shadow memory multiply the peak of every allocation";
#endif
  // As many empty ids as the largest JSON text holds: their whole reply would be about 160 MiB,
  // built by doubling, enough to carry the peak past the hard limit.
  constexpr size_t kIds = (kMaxJsonLength - 64) / 3;
  std::string json = R"({"generation":1,"fontIds":[)";
  for (size_t i = 0; i < kIds; ++i) json += i == 0 ? R"("")" : R"(,"")";
  json += "]}";
  RendererSession session(kRendererPath);
  ASSERT_TRUE(session.started());
  ASSERT_TRUE(session.send(kMeasure, json));
  EXPECT_TRUE(pongAfterSlowRequests(session));
  EXPECT_LT(peakResidentBytes(session.process().pid()), kHardMemoryLimit);
  EXPECT_TRUE(session.expectCleanEnd());
}

}  // namespace
}  // namespace kfp::test
