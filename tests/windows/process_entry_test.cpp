// The Windows process entry as a Windows host sees it: the command line, and standard handles that
// are missing or given as INVALID_HANDLE_VALUE. Other kinds of handle: standard_handles_test.cpp.

#include <gtest/gtest.h>
#include <windows.h>

#include <iterator>
#include <string>
#include <utility>

#include "windows/renderer_child.h"

namespace kfp {
namespace {

using windows_test::ChildRun;
using windows_test::Pipe;

const std::wstring kRenderer = windows_test::rendererPath();

// Stands for "the pipe this test makes"; no real handle has this value.
const HANDLE kPipeHandle = reinterpret_cast<HANDLE>(static_cast<intptr_t>(1));

// Runs the renderer with `commandLine`, `input` on its standard input and its output collected.
// A standard handle given as something other than kPipeHandle is passed to the child as it is.
ChildRun runRenderer(std::wstring commandLine, const std::string& input,
                     HANDLE stdinHandle = kPipeHandle, HANDLE stdoutHandle = kPipeHandle) {
  Pipe in, out;
  if (!in.open(true) || !out.open(false)) return {};
  return windows_test::runRenderer(
      std::move(commandLine), stdinHandle == kPipeHandle ? in.read : stdinHandle,
      stdoutHandle == kPipeHandle ? out.write : stdoutHandle,
      [&](HANDLE) {
        windows_test::closeHandle(in.read);
        windows_test::closeHandle(out.write);
        if (!input.empty()) windows_test::writeAllTo(in.write, input);
        windows_test::closeHandle(in.write);
      },
      out.read);
}

const std::wstring kQuotedName = L"\"" + kRenderer + L"\"";
const std::string kPing("\x07\x00\x00\x00\x0a\x02\x00\x00\x00{}", 11);
const std::string kPong("\x07\x00\x00\x00\x0b\x02\x00\x00\x00{}", 11);

struct EntryCase {
  const char* name;
  std::wstring commandLine;
  std::string input;
  HANDLE stdinHandle;
  HANDLE stdoutHandle;
  DWORD exitCode;
  std::string output;
};

void expectRuns(const EntryCase* begin, const EntryCase* end) {
  for (const EntryCase* c = begin; c != end; ++c) {
    SCOPED_TRACE(c->name);
    const ChildRun run = runRenderer(c->commandLine, c->input, c->stdinHandle, c->stdoutHandle);
    ASSERT_TRUE(run.started) << GetLastError();
    EXPECT_EQ(run.exitCode, c->exitCode);
    EXPECT_EQ(run.output, c->output);
    EXPECT_EQ(run.errors, "");
  }
}

TEST(ProcessEntry, CommandLinesAndStandardHandles) {
  const EntryCase cases[] = {
      {"version after a quoted name", kQuotedName + L" --version", "", kPipeHandle, kPipeHandle, 0,
       "KestFontPreviewRenderer 2\n"},
      {"version right after the closing quote", kQuotedName + L"--version", kPing, kPipeHandle,
       kPipeHandle, 0, "KestFontPreviewRenderer 2\n"},
      {"version inside another argument", L"renderer x--versiony", kPing, kPipeHandle, kPipeHandle,
       0, "KestFontPreviewRenderer 2\n"},
      {"upper case is a normal run", L"renderer --VERSION", kPing, kPipeHandle, kPipeHandle, 0,
       kPong},
      {"no arguments", L"renderer", kPing + kPing, kPipeHandle, kPipeHandle, 0, kPong + kPong},
      {"missing standard input", L"renderer", kPing, nullptr, kPipeHandle, 2, ""},
      {"missing standard output", L"renderer", kPing, kPipeHandle, nullptr, 2, ""},
      {"version with unusable standard output", L"renderer --version", "", kPipeHandle,
       INVALID_HANDLE_VALUE, 0, ""},
  };
  expectRuns(std::begin(cases), std::end(cases));
}

TEST(ProcessEntry, InvalidStandardHandlesEndWithTwo) {
  // Wine hands the child its parent's process handle in place of INVALID_HANDLE_VALUE (the same
  // value as the process pseudo-handle): a live handle, but no file, so it ends with 2 all the
  // same.
  const EntryCase cases[] = {
      {"unusable standard input", L"renderer", kPing, INVALID_HANDLE_VALUE, kPipeHandle, 2, ""},
      {"unusable standard output", L"renderer", kPing, kPipeHandle, INVALID_HANDLE_VALUE, 2, ""},
  };
  expectRuns(std::begin(cases), std::end(cases));
}

}  // namespace
}  // namespace kfp
