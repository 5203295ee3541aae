// The process layer under children whose behaviour is known exactly (a shell, cat): frames that
// break the header's limits, the signal state a child starts with, a writer that keeps draining
// replies while the child's input is full, a capped stderr, and no descriptor left on any path.

#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "renderer_process.h"
#include "testing/client_testing.h"

namespace kfp::client {
namespace {

using testing::TestAccess;

std::unique_ptr<RendererProcess> shell(const std::string& script) {
  auto started = RendererProcess::spawn("/bin/sh", {"-c", script});
  EXPECT_TRUE(started) << started.error();
  return started ? std::move(started).value() : nullptr;
}

size_t openDescriptors() {
  size_t n = 0;
  DIR* dir = ::opendir("/proc/self/fd");
  while (dirent* entry = ::readdir(dir)) n += entry->d_name[0] != '.';
  ::closedir(dir);
  return n;
}

TEST(RendererProcessTest, ReadStatusOfEveryStreamShape) {
  // printf octal escapes: a header is u32 LE length, u8 type, u32 LE JSON length.
  struct Case {
    const char* name;
    const char* output;
    bool stayAlive;
    ReadStatus first;
  } const cases[] = {
      {"whole frame", "\\007\\000\\000\\000\\012\\002\\000\\000\\000{}", false, ReadStatus::kFrame},
      {"length beyond the limit", "\\377\\377\\377\\377\\012\\000\\000\\000\\000", true,
       ReadStatus::kMalformed},
      {"length below the header", "\\004\\000\\000\\000\\012\\000\\000\\000\\000", true,
       ReadStatus::kMalformed},
      {"JSON longer than the frame", "\\006\\000\\000\\000\\012\\002\\000\\000\\000{}", true,
       ReadStatus::kMalformed},
      {"ends inside a frame", "\\020\\000\\000\\000\\012", false, ReadStatus::kTruncated},
      {"ends at once", "", false, ReadStatus::kEndOfStream},
      {"says nothing", "", true, ReadStatus::kTimeout},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto child =
        shell(std::string("printf '") + c.output + "'" + (c.stayAlive ? "; sleep 30" : ""));
    ASSERT_TRUE(child);
    Frame frame;
    EXPECT_EQ(child->readFrame(frame, Milliseconds(c.first == ReadStatus::kTimeout ? 200 : 10000)),
              c.first);
    if (c.first == ReadStatus::kFrame) {
      EXPECT_EQ(frame.type, 10);
      EXPECT_EQ(frame.json, "{}");
      EXPECT_EQ(child->readFrame(frame, Milliseconds(10000)), ReadStatus::kEndOfStream);
    }
  }
}

TEST(RendererProcessTest, AChildStartsWithAnEmptyMaskAndDefaultSigpipe) {
  sigset_t blocked, previous;
  sigemptyset(&blocked);
  for (int signal : {SIGBUS, SIGIO, SIGTERM, SIGUSR1, SIGPIPE}) sigaddset(&blocked, signal);
  ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &blocked, &previous), 0);
  struct sigaction ignore = {}, before;
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &before);
  // exec keeps the mask and ignored dispositions; grep started directly (a shell would reset its
  // mask) shows its own.
  auto started = RendererProcess::spawn("/bin/grep", {"-E", "^Sig(Blk|Ign)", "/proc/self/status"});
  auto child = started ? std::move(started).value() : nullptr;
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  sigaction(SIGPIPE, &before, nullptr);
  ASSERT_TRUE(child);
  std::string out;
  ASSERT_TRUE(TestAccess::readOutputToEnd(*child, out, Milliseconds(10000)));
  EXPECT_NE(out.find("SigBlk:\t0000000000000000"), std::string::npos) << out;
  // SIGPIPE is signal 13: bit 12 of the ignored set.
  const size_t ignored = out.find("SigIgn:\t");
  ASSERT_NE(ignored, std::string::npos) << out;
  const unsigned long long mask = std::stoull(out.substr(ignored + 8, 16), nullptr, 16);
  EXPECT_EQ(mask & (1ull << (SIGPIPE - 1)), 0u) << out;
}

TEST(RendererProcessTest, AWriteLargerThanBothPipesCompletesWhileTheChildEchoesIt) {
  // cat writes back what it reads: once its output pipe is full it stops reading, and the write
  // can only finish if the writer drains that output meanwhile.
  auto child = shell("exec cat");
  ASSERT_TRUE(child);
  const std::vector<uint8_t> payload(4u << 20, 0x5A);
  ASSERT_TRUE(child->writeFrame(10, "{}", payload, Milliseconds(10000)));
  child->closeInput();
  Frame frame;
  ASSERT_EQ(child->readFrame(frame, Milliseconds(10000)), ReadStatus::kFrame);
  EXPECT_EQ(frame.type, 10);
  EXPECT_EQ(frame.payload, payload);
  EXPECT_EQ(child->readFrame(frame, Milliseconds(10000)), ReadStatus::kEndOfStream);
}

TEST(RendererProcessTest, StderrKeepsItsFirst64KiBAndTheChildIsNotBlocked) {
  auto child = shell("head -c 3000000 /dev/zero | tr '\\000' e >&2; echo done >&2");
  ASSERT_TRUE(child);
  const ProcessExit exit = child->waitForExit(Milliseconds(20000));
  EXPECT_TRUE(exit.exitedWith(0)) << exit.describe();
  EXPECT_EQ(child->stderrText(), std::string(RendererProcess::kStderrKept, 'e'));
}

TEST(RendererProcessTest, NoDescriptorOrChildIsLeftOnAnyPath) {
  struct Case {
    const char* name;
    void (*end)(RendererProcess&);
  } const cases[] = {
      {"killed", [](RendererProcess& p) { p.kill(); }},
      {"destroyed while running", [](RendererProcess&) {}},
      {"input closed, then exited",
       [](RendererProcess& p) {
         p.closeInput();
         p.waitForExit(Milliseconds(10000));
       }},
      {"output closed, then killed",
       [](RendererProcess& p) {
         TestAccess::closeOutput(p);
         p.kill();
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t before = openDescriptors();
    int pid = 0;
    {
      auto child = shell("exec cat");
      ASSERT_TRUE(child);
      pid = child->pid();
      c.end(*child);
    }
    EXPECT_EQ(openDescriptors(), before);
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, WNOHANG), -1) << "the child was not reaped";
  }
  const size_t before = openDescriptors();
  auto missing = RendererProcess::spawn("/nonexistent/renderer", {});
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().kind(), ErrorKind::kStartFailed);
  EXPECT_EQ(missing.error().code(), codes::kStartFailed);
  EXPECT_EQ(openDescriptors(), before);
}

}  // namespace
}  // namespace kfp::client
