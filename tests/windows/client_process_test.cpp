// The host library's process layer on Windows, under a child whose behaviour is known exactly
// (process_child.exe, built beside this program): frames that break the header's limits, arguments
// that need quoting, a writer that keeps draining replies while the child's input is full, a capped
// stderr, the handles a child inherits, the job that ends what the child started, and no handle or
// process left on any path.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "renderer_process.h"
#include "testing/client_testing.h"
#include "windows/renderer_child.h"
#include "windows/windows_test_support.h"

namespace kfp::client {
namespace {

using testing::TestAccess;
using windows_test::directoryOfThisProgram;

std::string utf8(const std::wstring& text) {
  const int n =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(size_t(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

const std::string& childPath() {
  static const std::string path = utf8(directoryOfThisProgram() + L"process_child.exe");
  return path;
}

std::unique_ptr<RendererProcess> child(const std::vector<std::string>& args,
                                       const std::string& path = childPath()) {
  auto started = RendererProcess::spawn(path, args);
  EXPECT_TRUE(started) << started.error();
  return started ? std::move(started).value() : nullptr;
}

DWORD openHandles() {
  DWORD n = 0;
  GetProcessHandleCount(GetCurrentProcess(), &n);
  return n;
}

// True when no process with this id runs any more.
bool gone(int pid, DWORD waitMs = 5000) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, DWORD(pid));
  if (process == nullptr) return true;
  const bool ended = WaitForSingleObject(process, waitMs) == WAIT_OBJECT_0;
  CloseHandle(process);
  return ended;
}

TEST(WindowsRendererProcessTest, ReadStatusOfEveryStreamShape) {
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

TEST(WindowsRendererProcessTest, ArgumentsAndPathsArriveAsGiven) {
  const std::vector<std::string> args = {
      "plain",        "two words", "",         "tab\there",      "quote\"inside", "\"",
      "back\\slash",  "ends\\",    "ends\\\\", "both \\\"x\\\"", "trailing \\",   "\\\\server\\s",
      "ünïcödé ∑ 字", "a\nb",
  };
  // A copy of the child under a directory whose name needs quoting and is not ASCII.
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring directory =
      std::wstring(temp) + L"kfp process test é 字 " + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(directory.c_str(), nullptr);
  const std::wstring copy = directory + L"\\process child.exe";
  ASSERT_TRUE(
      CopyFileW((directoryOfThisProgram() + L"process_child.exe").c_str(), copy.c_str(), FALSE));
  for (const std::string& path : {childPath(), utf8(copy)}) {
    SCOPED_TRACE(path);
    std::vector<std::string> withMode = {"args"};
    withMode.insert(withMode.end(), args.begin(), args.end());
    auto process = child(withMode, path);
    ASSERT_TRUE(process);
    std::string out;
    ASSERT_TRUE(TestAccess::readOutputToEnd(*process, out, Milliseconds(10000)));
    std::string expected;
    for (const auto& arg : args) expected += arg + "\n";
    EXPECT_EQ(out, expected);
  }
  DeleteFileW(copy.c_str());
  RemoveDirectoryW(directory.c_str());

  const DWORD before = openHandles();
  for (const std::string& path : {std::string("C:\\no such dir\\renderer.exe"),
                                  std::string("\xff\xfe not UTF-8"), std::string()}) {
    SCOPED_TRACE(path);
    auto missing = RendererProcess::spawn(path, {});
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().kind(), ErrorKind::kStartFailed);
    EXPECT_EQ(missing.error().code(), codes::kStartFailed);
  }
  EXPECT_EQ(openHandles(), before);
}

TEST(WindowsRendererProcessTest, AWriteLargerThanBothPipesCompletesWhileTheChildEchoesIt) {
  // The echo stops reading once its output pipe is full: the write can only finish if the host
  // drains that output meanwhile.
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

TEST(WindowsRendererProcessTest, AWriteToAChildThatStopsReadingEndsAtItsDeadline) {
  auto process = child({"sleep"});
  ASSERT_TRUE(process);
  const std::vector<uint8_t> payload(1u << 20, 1);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(process->writeFrame(10, "{}", payload, Milliseconds(500)));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  const ProcessExit exit = process->kill();
  EXPECT_EQ(exit.kind, ProcessExit::Kind::kSignaled) << exit.describe();
}

TEST(WindowsRendererProcessTest, StderrKeepsItsFirst64KiBAndTheChildIsNotBlocked) {
  auto process = child({"stderr", "3000000"});
  ASSERT_TRUE(process);
  const ProcessExit exit = process->waitForExit(Milliseconds(20000));
  EXPECT_TRUE(exit.exitedWith(0)) << exit.describe();
  EXPECT_EQ(process->stderrText(), std::string(RendererProcess::kStderrKept, 'e'));

  auto refused = child({"no such mode"});
  ASSERT_TRUE(refused);
  EXPECT_TRUE(refused->waitForExit(Milliseconds(10000)).exitedWith(2));
}

TEST(WindowsRendererProcessTest, OnlyThePipeEndsAreInherited) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE event = CreateEventW(&inherit, TRUE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  auto process = child({"handle", std::to_string(reinterpret_cast<uintptr_t>(event))});
  ASSERT_TRUE(process);
  std::string out;
  ASSERT_TRUE(TestAccess::readOutputToEnd(*process, out, Milliseconds(10000)));
  CloseHandle(event);
  // Inheritable, but not in the list the child was given.
  EXPECT_EQ(out, "closed");
}

TEST(WindowsRendererProcessTest, WhatTheChildStartedEndsWithIt) {
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

TEST(WindowsRendererProcessTest, AChildDoesNotOutliveItsHost) {
  // process_host.exe starts a child through the library and is then terminated, so that no
  // destructor runs: only the job, closed with the host's handles, can end the child.
  windows_test::Pipe out;
  ASSERT_TRUE(out.open(false));
  std::wstring program = directoryOfThisProgram() + L"process_host.exe";
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

TEST(WindowsRendererProcessTest, TheJobRefusesMemoryFarBeyondTheRenderersOwnLimit) {
  struct Case {
    const char* mebibytes;
    DWORD exitCode;
  } const cases[] = {{"512", 0}, {"1536", 4}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mebibytes);
    auto process = child({"commit", c.mebibytes});
    ASSERT_TRUE(process);
    const ProcessExit exit = process->waitForExit(Milliseconds(10000));
    if (c.exitCode == 4 && exit.exitedWith(0)) {
      KFP_SKIP_UNDER_WINE("job objects do not limit process memory");
    }
    EXPECT_TRUE(exit.exitedWith(int(c.exitCode))) << exit.describe();
  }
}

TEST(WindowsRendererProcessTest, NoHandleOrChildIsLeftOnAnyPath) {
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
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const DWORD before = openHandles();
    int pid = 0;
    {
      auto process = child({"echo"});
      ASSERT_TRUE(process);
      pid = process->pid();
      c.end(*process);
    }
    EXPECT_EQ(openHandles(), before);
    EXPECT_TRUE(gone(pid));
  }
}

}  // namespace
}  // namespace kfp::client
