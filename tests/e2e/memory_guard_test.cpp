// The memory guard on the real renderer, without any test switch: many distinct font ids fill the
// resolved-font cache (each holds an opened face) until the renderer's own memory crosses the
// limits.

#include "host/memory_guard.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "host/message_loop.h"
#include "protocol/frame.h"
#include "protocol/messages.h"
#include "support/e2e_renderer.h"

namespace kfp::test {
namespace {

using client::FontDescriptor;
using client::LayoutRequest;

constexpr size_t kIds = 20000;

// The renderer's anonymous resident memory, the figure its guard watches.
uint64_t anonymousBytes(pid_t pid) {
  std::ifstream statm("/proc/" + std::to_string(pid) + "/statm");
  uint64_t size = 0, resident = 0, shared = 0;
  statm >> size >> resident >> shared;
  return (resident - shared) * uint64_t(sysconf(_SC_PAGESIZE));
}

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
    ASSERT_TRUE(result) << result.failure.what;
    ASSERT_TRUE(result.value->items.back().resolved) << result.value->items.back().error;
  }

  uint64_t memory() { return anonymousBytes(session_.process().pid()); }

  // Thousands of faces per request: minutes under the sanitizers on a loaded machine.
  RendererSession session_{kRendererPath, {}, client::Milliseconds(300000)};
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

// Ping, and the very next frame is Pong. The wait covers the requests sent before, which take
// seconds on a loaded machine.
::testing::AssertionResult pongAfterSlowRequests(RendererSession& session) {
  if (!session.send(kPing, "")) return ::testing::AssertionFailure() << "Ping not sent";
  Frame frame;
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
