#pragma once
// A renderer under test: started from the built binary, driven over its pipes, every read bounded
// by a timeout so that a broken renderer fails the test instead of hanging it.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kfp_client.h"
#include "testing/client_testing.h"

namespace kfp::test {

// The renderer can also run through a launcher (an emulator, for the Windows build under Wine):
// KFP_RENDERER_LAUNCHER names it and KFP_RENDERER_EXE the binary it starts in place of the one
// built here; KFP_RENDERER_TESTHOOKS_EXE names that binary's test-switch build.
std::string rendererUnderTest(const char* builtPath);
bool launcherInUse();
// The launcher's path ($KFP_RENDERER_LAUNCHER); empty when none is in use.
std::string launcherPath();
// Empty when no test-switch build was named.
std::string testHooksRenderer();

}  // namespace kfp::test

#ifdef KFP_RENDERER_PATH
inline const std::string kRendererPath = kfp::test::rendererUnderTest(KFP_RENDERER_PATH);
#endif

// For tests that observe the renderer through Linux itself (/proc, shell redirections, the Linux
// backend's libraries): under a launcher they would observe the launcher.
#define KFP_SKIP_UNDER_LAUNCHER()                                                                 \
  do {                                                                                            \
    if (::kfp::test::launcherInUse()) GTEST_SKIP() << "observes the renderer as a Linux process"; \
  } while (0)

namespace kfp::test {

using client::Milliseconds;

// Long enough for a loaded CI machine, short enough that a hang is noticed.
constexpr Milliseconds kReplyTimeout{10000};
constexpr Milliseconds kExitTimeout{10000};

// The bytes of one frame whose header matches its content.
std::string frameBytes(uint8_t type, std::string_view json, std::string_view payload = {});
// A frame header with free-standing length fields, for frames that break the limits.
std::string frameHeader(uint32_t length, uint8_t type, uint32_t jsonLength);

// A process's anonymous resident memory (statm resident - shared), the figure the renderer's
// memory guard watches.
uint64_t anonymousBytes(int pid);

// The renderer's process as a test sees it: the product calls and the test-only ones side by side.
class ProcessUnderTest {
 public:
  explicit ProcessUnderTest(client::RendererProcess& process) : process_(process) {}
  int pid() const { return process_.pid(); }
  void closeInput() { process_.closeInput(); }
  // Makes the renderer's next write fail.
  void closeOutput() { client::testing::TestAccess::closeOutput(process_); }
  bool readOutputToEnd(std::string& out, Milliseconds timeout) {
    return client::testing::TestAccess::readOutputToEnd(process_, out, timeout);
  }
  client::ProcessExit waitForExit(Milliseconds timeout) { return process_.waitForExit(timeout); }
  client::ProcessExit kill() { return process_.kill(); }
  const std::string& stderrText() { return process_.stderrText(); }

 private:
  client::RendererProcess& process_;
};

class RendererSession {
 public:
  RendererSession(const std::string& rendererPath, std::vector<std::string> args = {},
                  Milliseconds replyTimeout = kReplyTimeout);
  ~RendererSession();

  // Did the process start? Every test asserts this first.
  ::testing::AssertionResult started() const;
  client::Client& client() { return *client_; }
  ProcessUnderTest process() {
    return ProcessUnderTest(client::testing::TestAccess::process(*client_));
  }

  bool send(uint8_t type, std::string_view json) {
    return client::testing::TestAccess::sendRaw(*client_, type, json).ok();
  }
  bool sendBytes(std::string_view bytes) {
    return client::testing::TestAccess::sendBytes(*client_, bytes);
  }

  // The next frame is exactly `type` with JSON text `json` and an empty payload.
  ::testing::AssertionResult expectReply(uint8_t type, std::string_view json);
  ::testing::AssertionResult expectError(std::string_view code);
  // Ping, and the very next frame is Pong: proves that nothing was written in between.
  ::testing::AssertionResult expectNothingPending();
  ::testing::AssertionResult expectExit(int code, Milliseconds timeout = kExitTimeout);
  // After the process has ended: its stdout is at its end, with no further bytes.
  ::testing::AssertionResult expectOutputEnded();
  // Closes stdin and expects exit 0 with no further output and an empty stderr.
  ::testing::AssertionResult expectCleanEnd();
  ::testing::AssertionResult expectStderrEmpty();

 private:
  std::unique_ptr<client::Client> client_;
  std::string startError_;
};

}  // namespace kfp::test
