// The client leaves the host's signal handling alone: a renderer that went away is a failed call,
// not a SIGPIPE that ends the host, and no disposition or mask of the host changes.

#include <gtest/gtest.h>
#include <signal.h>

#include "support/e2e_renderer.h"

namespace kfp::test {
namespace {

struct SignalState {
  struct sigaction action;
  sigset_t mask;
  sigset_t pending;
};

SignalState currentState() {
  SignalState state;
  sigaction(SIGPIPE, nullptr, &state.action);
  pthread_sigmask(SIG_SETMASK, nullptr, &state.mask);
  sigpending(&state.pending);
  return state;
}

TEST(ClientSignalTest, WritingToAGoneRendererFailsAndLeavesSignalsAlone) {
  // The default disposition, as a host that never heard of SIGPIPE has it: a stray SIGPIPE would
  // end this test process.
  struct sigaction defaults = {};
  defaults.sa_handler = SIG_DFL;
  struct sigaction previous;
  ASSERT_EQ(sigaction(SIGPIPE, &defaults, &previous), 0);

  for (const bool pendingBefore : {false, true}) {
    SCOPED_TRACE(pendingBefore ? "a SIGPIPE of the host already pending" : "none pending");
    sigset_t pipeOnly;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    if (pendingBefore) {
      // The host blocks SIGPIPE and has one pending: the client must neither take it nor add one.
      pthread_sigmask(SIG_BLOCK, &pipeOnly, nullptr);
      raise(SIGPIPE);
    }
    RendererSession session(kRendererPath);
    ASSERT_TRUE(session.started());
    session.process().kill();
    const SignalState before = currentState();
    EXPECT_FALSE(session.client().ping());
    EXPECT_FALSE(session.client().registerFontsAndWait({{.fontId = "a", .familyName = "x"}}));
    const SignalState after = currentState();
    EXPECT_EQ(after.action.sa_handler, SIG_DFL);
    EXPECT_EQ(sigismember(&after.mask, SIGPIPE), sigismember(&before.mask, SIGPIPE));
    EXPECT_EQ(sigismember(&after.pending, SIGPIPE), pendingBefore ? 1 : 0);
    if (pendingBefore) {
      int taken = 0;
      const timespec now = {0, 0};
      taken = sigtimedwait(&pipeOnly, nullptr, &now);
      EXPECT_EQ(taken, SIGPIPE);
      pthread_sigmask(SIG_UNBLOCK, &pipeOnly, nullptr);
    }
  }
  sigaction(SIGPIPE, &previous, nullptr);
}

}  // namespace
}  // namespace kfp::test
