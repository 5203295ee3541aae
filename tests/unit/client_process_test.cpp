// The host library's process layer under a child whose behaviour is known exactly (process_child,
// built beside the tests for either operating system): frames that break the header's limits,
// arguments and paths that need quoting, a writer that keeps draining replies while the child's
// input is full, a child that writes faster than the host reads, a capped stderr, exit codes, what
// a child inherits, and no handle, descriptor or process left on any path. On Windows also the
// job that ends what the child started and outlives no host; on POSIX the signal state a child
// starts with.

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>

#include "windows/renderer_child.h"
#include "windows/windows_test_support.h"
#else
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "renderer_process.h"
#include "testing/client_testing.h"

namespace kfp::client {
namespace {

using testing::TestAccess;
namespace fs = std::filesystem;

std::string utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

const fs::path& childFile() {
#ifdef _WIN32
  static const fs::path path = windows_test::directoryOfThisProgram() + L"process_child.exe";
#else
  static const fs::path path = KFP_PROCESS_CHILD_PATH;
#endif
  return path;
}

std::unique_ptr<RendererProcess> child(const std::vector<std::string>& args,
                                       const std::string& path = utf8(childFile())) {
  auto started = RendererProcess::spawn(path, args);
  EXPECT_TRUE(started) << started.error();
  return started ? std::move(started).value() : nullptr;
}

int processId() {
#ifdef _WIN32
  return int(GetCurrentProcessId());
#else
  return int(::getpid());
#endif
}

// Handles on Windows, descriptors on POSIX: what a leak would grow.
size_t openHandles() {
#ifdef _WIN32
  DWORD n = 0;
  GetProcessHandleCount(GetCurrentProcess(), &n);
  return n;
#else
  size_t n = 0;
  DIR* dir = ::opendir("/proc/self/fd");
  while (dirent* entry = ::readdir(dir)) n += entry->d_name[0] != '.';
  ::closedir(dir);
  return n;
#endif
}

// True when the process has ended and, on POSIX, been reaped.
bool gone(int pid, int waitMs = 5000) {
#ifdef _WIN32
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, DWORD(pid));
  if (process == nullptr) return true;
  const bool ended = WaitForSingleObject(process, DWORD(waitMs)) == WAIT_OBJECT_0;
  CloseHandle(process);
  return ended;
#else
  (void)waitMs;  // the library reaps before it returns
  int status = 0;
  return ::waitpid(pid, &status, WNOHANG) == -1 && errno == ECHILD;
#endif
}

TEST(RendererProcessTest, ReadStatusOfEveryStreamShape) {
  // A header is u32 LE length, u8 type, u32 LE JSON length.
  struct Case {
    const char* name;
    const char* output;
    bool stayAlive;
    ReadStatus first;
  } const cases[] = {
      {"whole frame", "070000000a020000007b7d", false, ReadStatus::kFrame},
      {"length beyond the limit", "ffffffff0a00000000", true, ReadStatus::kMalformed},
      {"length below the header", "040000000a00000000", true, ReadStatus::kMalformed},
      {"JSON longer than the frame", "060000000a020000007b7d", true, ReadStatus::kMalformed},
      {"ends inside a frame", "100000000a", false, ReadStatus::kTruncated},
      {"ends at once", "", false, ReadStatus::kEndOfStream},
      {"says nothing", "", true, ReadStatus::kTimeout},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"bytes", c.output};
    if (c.stayAlive) args.push_back("stay");
    auto process = child(args);
    ASSERT_TRUE(process);
    Frame frame;
    EXPECT_EQ(
        process->readFrame(frame, Milliseconds(c.first == ReadStatus::kTimeout ? 300 : 10000)),
        c.first);
    if (c.first == ReadStatus::kFrame) {
      EXPECT_EQ(frame.type, 10);
      EXPECT_EQ(frame.json, "{}");
      EXPECT_EQ(process->readFrame(frame, Milliseconds(10000)), ReadStatus::kEndOfStream);
    }
  }
}

TEST(RendererProcessTest, ArgumentsAndPathsArriveAsGiven) {
  const std::vector<std::string> args = {
      "plain",        "two words", "",         "tab\there",      "quote\"inside", "\"",
      "back\\slash",  "ends\\",    "ends\\\\", "both \\\"x\\\"", "trailing \\",   "\\\\server\\s",
      "ünïcödé ∑ 字", "a\nb",
  };
  // A copy of the child under a directory whose name needs quoting and is not ASCII.
  fs::path directory = fs::temp_directory_path() / fs::path(u8"kfp process test é 字 ");
  directory += std::to_string(processId());
  fs::create_directories(directory);
  const fs::path copy = directory / fs::path(u8"process child.exe");
  fs::copy_file(childFile(), copy, fs::copy_options::overwrite_existing);
  for (const std::string& path : {utf8(childFile()), utf8(copy)}) {
    SCOPED_TRACE(path);
    std::vector<std::string> withMode = {"args"};
    withMode.insert(withMode.end(), args.begin(), args.end());
    auto process = child(withMode, path);
    ASSERT_TRUE(process);
    std::string out;
    ASSERT_TRUE(process->readOutputToEnd(out, Milliseconds(10000)));
    std::string expected;
    for (const auto& arg : args) expected += arg + "\n";
    EXPECT_EQ(out, expected);
  }
  fs::remove_all(directory);

  const size_t before = openHandles();
  for (const std::string& path :
       {std::string("C:\\no such dir\\renderer.exe"), std::string("/nonexistent/renderer"),
        std::string("\xff\xfe not UTF-8"), std::string()}) {
    SCOPED_TRACE(path);
    auto missing = RendererProcess::spawn(path, {});
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().kind(), ErrorKind::kStartFailed);
    EXPECT_EQ(missing.error().code(), codes::kStartFailed);
  }
  EXPECT_EQ(openHandles(), before);
}

TEST(RendererProcessTest, AWriteLargerThanBothPipesCompletesWhileTheChildEchoesIt) {
  // The echo stops reading once its output pipe is full: the write can only finish if the host
  // drains that output meanwhile, past its usual read-ahead.
  auto process = child({"echo"});
  ASSERT_TRUE(process);
  const std::vector<uint8_t> payload(4u << 20, 0x5A);
  ASSERT_TRUE(process->writeFrame(10, "{}", payload, Milliseconds(20000)));
  process->closeInput();
  Frame frame;
  ASSERT_EQ(process->readFrame(frame, Milliseconds(10000)), ReadStatus::kFrame);
  EXPECT_EQ(frame.type, 10);
  EXPECT_EQ(frame.payload, payload);
  EXPECT_EQ(process->readFrame(frame, Milliseconds(10000)), ReadStatus::kEndOfStream);
  EXPECT_TRUE(process->waitForExit(Milliseconds(10000)).exitedWith(0));
}

// A child that writes far more than the host has read: every frame arrives, in order and whole,
// and the host never held more than the frame being read, its read-ahead and one read's worth.
TEST(RendererProcessTest, AChildWritingFasterThanTheHostReadsIsHeldBackAndLosesNothing) {
  const struct {
    size_t frames, payload;
  } cases[] = {{48, 1u << 20}, {2000, 16 * 1024}, {3, 5u << 20}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.frames) + " frames of " + std::to_string(c.payload));
    auto process = child({"flood", std::to_string(c.frames), std::to_string(c.payload)});
    ASSERT_TRUE(process);
    // A head start, so that an unbounded reader would have taken in far more than the bound. The
    // check is on what was held, not on time: a slow machine only makes it weaker.
    Frame frame;
    ASSERT_EQ(process->readFrame(frame, Milliseconds(20000)), ReadStatus::kFrame);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    for (size_t i = 1; i < c.frames; ++i) {
      ASSERT_EQ(process->readFrame(frame, Milliseconds(20000)), ReadStatus::kFrame) << i;
      ASSERT_EQ(frame.json, std::to_string(i));
      ASSERT_EQ(frame.payload.size(), c.payload);
      ASSERT_EQ(frame.payload.front(), uint8_t(i));
      ASSERT_EQ(frame.payload.back(), uint8_t(i));
    }
    EXPECT_EQ(process->readFrame(frame, Milliseconds(10000)), ReadStatus::kEndOfStream);
    const size_t frameBytes = 9 + std::to_string(c.frames).size() + c.payload;
    const size_t bound = frameBytes + 2 * (RendererProcess::kOutputReadAhead + (64u << 10));
    EXPECT_LE(TestAccess::outputHighWater(*process), bound);
    EXPECT_TRUE(process->waitForExit(Milliseconds(10000)).exitedWith(0));
  }
}

TEST(RendererProcessTest, AWriteToAChildThatStopsReadingEndsAtItsDeadline) {
  auto process = child({"sleep"});
  ASSERT_TRUE(process);
  const std::vector<uint8_t> payload(1u << 20, 1);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(process->writeFrame(10, "{}", payload, Milliseconds(500)));
  // Given up at the deadline, not left waiting for a reader that never comes.
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  const ProcessExit exit = process->kill();
  EXPECT_EQ(exit.kind, ProcessExit::Kind::kSignaled) << exit.describe();
}

TEST(RendererProcessTest, StderrKeepsItsFirst64KiBAndTheChildIsNotBlocked) {
  auto process = child({"stderr", "3000000"});
  ASSERT_TRUE(process);
  const ProcessExit exit = process->waitForExit(Milliseconds(20000));
  EXPECT_TRUE(exit.exitedWith(0)) << exit.describe();
  EXPECT_EQ(process->stderrText(), std::string(RendererProcess::kStderrKept, 'e'));
}

TEST(RendererProcessTest, ExitCodesAreReportedAsTheChildGaveThem) {
  const struct {
    std::vector<std::string> args;
    int code;
  } cases[] = {
      {{"exit", "0"}, 0}, {{"exit", "3"}, 3}, {{"exit", "255"}, 255}, {{"no such mode"}, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front());
    auto process = child(c.args);
    ASSERT_TRUE(process);
    const ProcessExit exit = process->waitForExit(Milliseconds(10000));
    EXPECT_TRUE(exit.exitedWith(c.code)) << exit.describe();
    EXPECT_EQ(process->waitForExit(Milliseconds(0)).value, c.code) << "asked again";
  }
}

// The library's own pipe ends never reach another child; on Windows nothing else does either,
// however inheritable.
TEST(RendererProcessTest, AChildInheritsOnlyItsOwnPipeEnds) {
#ifndef _WIN32
  // Descriptors the test inherited itself are not the library's to close.
  auto openDescriptors = [] {
    std::vector<int> fds;
    for (int fd = 3; fd < 256; ++fd) {
      if (::fcntl(fd, F_GETFD) != -1) fds.push_back(fd);
    }
    return fds;
  };
  const std::vector<int> inherited = openDescriptors();
#endif
  auto running = child({"echo"});
  ASSERT_TRUE(running);
#ifdef _WIN32
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE event = CreateEventW(&inherit, TRUE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  const std::vector<std::string> held = {std::to_string(reinterpret_cast<uintptr_t>(event))};
#else
  // The running child's pipes: what is open now and was not before.
  std::vector<std::string> held;
  for (int fd : openDescriptors()) {
    if (std::find(inherited.begin(), inherited.end(), fd) == inherited.end()) {
      held.push_back(std::to_string(fd));
    }
  }
  ASSERT_EQ(held.size(), 3u);
#endif
  for (const std::string& value : held) {
    SCOPED_TRACE(value);
    auto process = child({"handle", value});
    ASSERT_TRUE(process);
    std::string out;
    ASSERT_TRUE(process->readOutputToEnd(out, Milliseconds(10000)));
    EXPECT_EQ(out, "closed");
  }
#ifdef _WIN32
  CloseHandle(event);
#else
  // The check itself: a descriptor the child does hold reads as open.
  auto own = child({"handle", "1"});
  ASSERT_TRUE(own);
  std::string out;
  ASSERT_TRUE(own->readOutputToEnd(out, Milliseconds(10000)));
  EXPECT_EQ(out, "open");
#endif
}

TEST(RendererProcessTest, NoHandleOrChildIsLeftOnAnyPath) {
  struct Case {
    const char* name;
    void (*end)(RendererProcess&);
  } const cases[] = {
      {"killed", [](RendererProcess& p) { p.kill(); }},
      {"destroyed while running", [](RendererProcess&) {}},
      {"input closed, then exited",
       [](RendererProcess& p) {
         p.closeInput();
         EXPECT_TRUE(p.waitForExit(Milliseconds(10000)).exitedWith(0));
       }},
      {"output closed, then killed",
       [](RendererProcess& p) {
         TestAccess::closeOutput(p);
         p.kill();
       }},
      {"flooding, destroyed unread", [](RendererProcess&) {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t before = openHandles();
    int pid = 0;
    {
      auto process = std::string(c.name).starts_with("flooding") ? child({"flood", "100", "65536"})
                                                                 : child({"echo"});
      ASSERT_TRUE(process);
      pid = process->pid();
      c.end(*process);
    }
    EXPECT_EQ(openHandles(), before);
    EXPECT_TRUE(gone(pid));
  }
}

#ifdef _WIN32

TEST(RendererProcessTest, WhatTheChildStartedEndsWithIt) {
  auto process = child({"grandchild"});
  ASSERT_TRUE(process);
  HANDLE handle = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, DWORD(process->pid()));
  ASSERT_NE(handle, nullptr);
  BOOL inJob = FALSE;
  EXPECT_TRUE(IsProcessInJob(handle, nullptr, &inJob));
  EXPECT_TRUE(inJob);
  CloseHandle(handle);
  Frame frame;
  ASSERT_EQ(process->readFrame(frame, Milliseconds(10000)), ReadStatus::kFrame);
  const int grandchild = std::stoi(frame.json);
  process.reset();
  EXPECT_TRUE(gone(grandchild)) << "the grandchild outlived its job";
}

TEST(RendererProcessTest, AChildDoesNotOutliveItsHost) {
  // process_host.exe starts a child through the library and is then terminated, so that no
  // destructor runs: only the job, closed with the host's handles, can end the child.
  windows_test::Pipe out;
  ASSERT_TRUE(out.open(false));
  std::wstring program = windows_test::directoryOfThisProgram() + L"process_host.exe";
  std::wstring commandLine = L"\"" + program + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = out.write;
  PROCESS_INFORMATION host{};
  ASSERT_TRUE(CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                             CREATE_NO_WINDOW, nullptr, nullptr, &startup, &host));
  windows_test::closeHandle(out.write);
  std::string line;
  char c = 0;
  DWORD n = 0;
  while (line.find('\n') == std::string::npos && ReadFile(out.read, &c, 1, &n, nullptr) && n == 1) {
    line += c;
  }
  ASSERT_NE(line.find('\n'), std::string::npos) << "the host started no child";
  const int pid = std::stoi(line);
  EXPECT_FALSE(gone(pid, 0)) << "the child ended before its host";
  TerminateProcess(host.hProcess, 1);
  WaitForSingleObject(host.hProcess, 10000);
  CloseHandle(host.hThread);
  CloseHandle(host.hProcess);
  EXPECT_TRUE(gone(pid)) << "the child outlived its host";
}

TEST(RendererProcessTest, TheJobRefusesMemoryFarBeyondTheRenderersOwnLimit) {
  struct Case {
    const char* mebibytes;
    int exitCode;
  } const cases[] = {{"512", 0}, {"1536", 4}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mebibytes);
    auto process = child({"commit", c.mebibytes});
    ASSERT_TRUE(process);
    const ProcessExit exit = process->waitForExit(Milliseconds(10000));
    if (c.exitCode == 4 && exit.exitedWith(0)) {
      KFP_SKIP_UNDER_WINE("job objects do not limit process memory");
    }
    EXPECT_TRUE(exit.exitedWith(c.exitCode)) << exit.describe();
  }
}

#else

TEST(RendererProcessTest, AChildStartsWithAnEmptyMaskAndDefaultSigpipe) {
  sigset_t blocked, previous;
  sigemptyset(&blocked);
  for (int signal : {SIGBUS, SIGIO, SIGTERM, SIGUSR1, SIGPIPE}) sigaddset(&blocked, signal);
  ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &blocked, &previous), 0);
  struct sigaction ignore = {}, before;
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &before);
  // exec keeps the mask and ignored dispositions: the child reports its own.
  auto process = child({"signals"});
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  sigaction(SIGPIPE, &before, nullptr);
  ASSERT_TRUE(process);
  std::string out;
  ASSERT_TRUE(process->readOutputToEnd(out, Milliseconds(10000)));
  EXPECT_EQ(out, "blocked 0\nsigpipe default\n");
}

#endif

}  // namespace
}  // namespace kfp::client
