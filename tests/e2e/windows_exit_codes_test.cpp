// Exit codes that only a broken platform provokes: a failed initialisation (3) and private memory
// above the hard limit (75). The Windows renderer's test-switch build fakes both from its
// environment; these tests run when that build is named (KFP_RENDERER_TESTHOOKS_EXE).

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <utility>

#include "protocol/exit_codes.h"
#include "protocol/message_types.h"
#include "support/e2e_renderer.h"

namespace kfp::test {
namespace {

// Starts `path` with one variable set in its environment, and only in its environment.
std::unique_ptr<RendererSession> startWith(const std::string& path, const char* name,
                                           const char* value) {
  setenv(name, value, 1);
  auto session = std::make_unique<RendererSession>(path);
  unsetenv(name);
  return session;
}

class TestSwitchExitCodes : public ::testing::Test {
 protected:
  void SetUp() override {
    if (testHooksRenderer().empty()) GTEST_SKIP() << "no test-switch build of the renderer";
  }
};

TEST_F(TestSwitchExitCodes, FailedInitializationIsReportedOnceAndEndsWithThree) {
  const auto session = startWith(testHooksRenderer(), "KFP_TEST_FAIL_INITIALIZE", "1");
  ASSERT_TRUE(session->started());
  // Standard input stays open: the answer comes before any frame is read.
  EXPECT_TRUE(session->expectError("INITIALIZE_FAILED"));
  EXPECT_TRUE(session->expectExit(kExitInitializeFailed));
  EXPECT_TRUE(session->expectOutputEnded());
  EXPECT_TRUE(session->expectStderrEmpty());
}

TEST_F(TestSwitchExitCodes, HardMemoryLimitAnswersTheNextFrameOfAnyKindWithFatalError) {
  const std::pair<const char*, std::pair<uint8_t, const char*>> frames[] = {
      {"Ping", {kPing, "{}"}},
      {"Shutdown", {kShutdown, "{}"}},
      {"JSON that does not parse", {kPing, "[1"}},
      {"unknown type", {200, "{}"}},
  };
  for (const auto& [name, frame] : frames) {
    SCOPED_TRACE(name);
    const auto session = startWith(testHooksRenderer(), "KFP_TEST_PRIVATE_BYTES", "268435457");
    ASSERT_TRUE(session->started());
    session->send(frame.first, frame.second);
    EXPECT_TRUE(session->expectReply(kFatalError, R"({"error":"MEMORY_HARD_LIMIT"})"));
    EXPECT_TRUE(session->expectExit(kExitMemoryHardLimit));
    EXPECT_TRUE(session->expectOutputEnded());
    EXPECT_TRUE(session->expectStderrEmpty());
  }
}

// Up to the hard limit itself the renderer keeps answering; above the soft limit it only drops
// its cache.
TEST_F(TestSwitchExitCodes, MemoryAtOrBelowTheHardLimitKeepsTheRendererRunning) {
  for (const char* bytes : {"268435456", "209715200", "201326592", "0"}) {
    SCOPED_TRACE(bytes);
    const auto session = startWith(testHooksRenderer(), "KFP_TEST_PRIVATE_BYTES", bytes);
    ASSERT_TRUE(session->started());
    EXPECT_TRUE(session->expectNothingPending());
    EXPECT_TRUE(session->send(kHello, R"({"protocolVersion":1})"));
    EXPECT_TRUE(session->expectReply(
        kHelloAck, R"({"protocolVersion":1,"rendererVersion":"2","pixelFormat":"A8"})"));
    EXPECT_TRUE(session->expectCleanEnd());
  }
}

// The product reads no configuration: the switches of the test build change nothing in it.
TEST(ProductRenderer, IgnoresTheTestSwitches) {
  const std::pair<const char*, const char*> switches[] = {
      {"KFP_TEST_FAIL_INITIALIZE", "1"},
      {"KFP_TEST_PRIVATE_BYTES", "999999999999"},
  };
  for (const auto& [name, value] : switches) {
    SCOPED_TRACE(name);
    const auto session = startWith(kRendererPath, name, value);
    ASSERT_TRUE(session->started());
    EXPECT_TRUE(session->expectNothingPending());
    EXPECT_TRUE(session->expectCleanEnd());
  }
}

}  // namespace
}  // namespace kfp::test
