// The Windows process entry as a Windows host sees it: the renderer started with CreateProcessW,
// standard handles chosen by the host, the exit code from GetExitCodeProcess. The renderer is the
// .exe built beside this test program.

#include <gtest/gtest.h>
#include <windows.h>

#include <iterator>
#include <string>

namespace kfp {
namespace {

std::wstring directoryOfThisProgram() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring text(path, length);
  return text.substr(0, text.find_last_of(L"\\/") + 1);
}

const std::wstring kRenderer = directoryOfThisProgram() + L"kest-font-preview-renderer.exe";

// A pipe whose child end is inherited and whose host end is not.
struct Pipe {
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  bool open(bool childReads) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    if (!CreatePipe(&read, &write, &inherit, 0)) return false;
    return SetHandleInformation(childReads ? write : read, HANDLE_FLAG_INHERIT, 0);
  }
  void close(HANDLE& handle) {
    if (handle) CloseHandle(handle);
    handle = nullptr;
  }
  ~Pipe() {
    close(read);
    close(write);
  }
};

// Moves what the pipe holds now into `text`; false when the pipe has no writer left.
bool drainAvailable(HANDLE handle, std::string& text) {
  DWORD available = 0;
  while (PeekNamedPipe(handle, nullptr, 0, nullptr, &available, nullptr)) {
    if (available == 0) return true;
    char buffer[4096];
    DWORD done = 0;
    const DWORD step = available < sizeof buffer ? available : DWORD(sizeof buffer);
    if (!ReadFile(handle, buffer, step, &done, nullptr) || done == 0) return false;
    text.append(buffer, done);
  }
  return false;
}

struct ChildRun {
  bool started = false;
  DWORD exitCode = 0;
  std::string output;
  std::string errors;
};

// Stands for "the pipe this test makes"; no real handle has this value.
const HANDLE kPipeHandle = reinterpret_cast<HANDLE>(static_cast<intptr_t>(1));

// Runs the renderer with `commandLine`, `input` on its standard input and its output collected.
// A standard handle given as something other than kPipeHandle is passed to the child as it is.
ChildRun runRenderer(std::wstring commandLine, const std::string& input,
                     HANDLE stdinHandle = kPipeHandle, HANDLE stdoutHandle = kPipeHandle) {
  ChildRun run;
  Pipe in, out, err;
  if (!in.open(true) || !out.open(false) || !err.open(false)) return run;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = stdinHandle == kPipeHandle ? in.read : stdinHandle;
  startup.hStdOutput = stdoutHandle == kPipeHandle ? out.write : stdoutHandle;
  startup.hStdError = err.write;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(kRenderer.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                      nullptr, &startup, &process)) {
    return run;
  }
  run.started = true;
  in.close(in.read);
  out.close(out.write);
  err.close(err.write);
  DWORD written = 0;
  if (!input.empty()) {
    WriteFile(in.write, input.data(), static_cast<DWORD>(input.size()), &written, nullptr);
  }
  in.close(in.write);
  // Collected until the child has ended, not until its pipes report their end: under load Wine
  // sometimes keeps a finished child's pipe open, and a read to the end would then wait forever.
  const ULONGLONG deadline = GetTickCount64() + 10000;
  bool ended = false;
  while (!ended && GetTickCount64() < deadline) {
    ended = WaitForSingleObject(process.hProcess, 10) == WAIT_OBJECT_0;
    drainAvailable(out.read, run.output);
    drainAvailable(err.read, run.errors);
  }
  if (!ended) TerminateProcess(process.hProcess, 99);
  GetExitCodeProcess(process.hProcess, &run.exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return run;
}

// Wine gives a child the process pseudo-handle where the host passed INVALID_HANDLE_VALUE (the same
// value), so the renderer sees a usable-looking handle there; Windows passes the value through.
bool underWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
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
      {"null standard input reads nothing", L"renderer", kPing, nullptr, kPipeHandle, 0, ""},
      {"version with unusable standard output", L"renderer --version", "", kPipeHandle,
       INVALID_HANDLE_VALUE, 0, ""},
  };
  expectRuns(std::begin(cases), std::end(cases));
}

TEST(ProcessEntry, InvalidStandardHandlesEndWithTwo) {
  if (underWine()) GTEST_SKIP() << "Wine does not pass INVALID_HANDLE_VALUE to a child";
  const EntryCase cases[] = {
      {"unusable standard input", L"renderer", kPing, INVALID_HANDLE_VALUE, kPipeHandle, 2, ""},
      {"unusable standard output", L"renderer", kPing, kPipeHandle, INVALID_HANDLE_VALUE, 2, ""},
  };
  expectRuns(std::begin(cases), std::end(cases));
}

}  // namespace
}  // namespace kfp
