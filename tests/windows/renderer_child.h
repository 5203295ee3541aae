#pragma once
// The renderer .exe started as a Windows host starts it: CreateProcessW, standard handles chosen by
// the test, the exit code from GetExitCodeProcess. The .exe is the one built beside the test
// program.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

namespace kfp::windows_test {

inline std::wstring directoryOfThisProgram() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring text(path, length);
  return text.substr(0, text.find_last_of(L"\\/") + 1);
}

inline const std::wstring& rendererPath() {
  static const std::wstring path = directoryOfThisProgram() + L"kest-font-preview-renderer.exe";
  return path;
}

inline void closeHandle(HANDLE& handle) {
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  handle = nullptr;
}

// An anonymous pipe whose child end is inherited and whose host end is not.
struct Pipe {
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  bool open(bool childReads) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    if (!CreatePipe(&read, &write, &inherit, 0)) return false;
    return SetHandleInformation(childReads ? write : read, HANDLE_FLAG_INHERIT, 0);
  }
  ~Pipe() {
    closeHandle(read);
    closeHandle(write);
  }
};

// A named pipe whose server end (inherited) goes to the child and whose client end (not inherited)
// stays with the test. `openMode` names the direction as the server sees it, plus any
// FILE_FLAG_OVERLAPPED; `pipeMode` the type, read mode and wait mode.
struct NamedPipe {
  HANDLE server = nullptr;
  HANDLE client = nullptr;
  bool open(DWORD openMode, DWORD pipeMode) {
    static int serial = 0;
    const std::wstring name = L"\\\\.\\pipe\\kfp-test-" + std::to_wstring(GetCurrentProcessId()) +
                              L"-" + std::to_wstring(++serial);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    server = CreateNamedPipeW(name.c_str(), openMode, pipeMode, 1, 1 << 16, 1 << 16, 0, &inherit);
    if (server == INVALID_HANDLE_VALUE) {
      server = nullptr;
      return false;
    }
    const DWORD access = (openMode & PIPE_ACCESS_INBOUND) ? GENERIC_WRITE : GENERIC_READ;
    client = CreateFileW(name.c_str(), access, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (client == INVALID_HANDLE_VALUE) {
      client = nullptr;
      return false;
    }
    return true;
  }
  ~NamedPipe() {
    closeHandle(server);
    closeHandle(client);
  }
};

inline bool writeAllTo(HANDLE handle, const std::string& bytes) {
  DWORD written = 0;
  return WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

// Moves what the pipe holds now into `text`; false when the pipe has no writer left.
inline bool drainAvailable(HANDLE handle, std::string& text) {
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

// Starts the renderer with `input` and `output` as its standard handles (inheritable handles, or
// values passed as they are), calls `feed` with its process handle once it runs (to close the
// test's copies of the child's ends and write the input), then collects `outputRead` (when given)
// and standard error until the child ends. Collected until the child has ended, not until its pipes
// report their end: under load Wine sometimes keeps a finished child's pipe open, and a read to the
// end would then wait forever.
inline ChildRun runRenderer(std::wstring commandLine, HANDLE input, HANDLE output,
                            const std::function<void(HANDLE process)>& feed,
                            HANDLE outputRead = nullptr,
                            const std::wstring& program = rendererPath()) {
  ChildRun run;
  Pipe err;
  if (!err.open(false)) return run;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = output;
  startup.hStdError = err.write;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                      nullptr, &startup, &process)) {
    return run;
  }
  run.started = true;
  closeHandle(err.write);
  if (feed) feed(process.hProcess);
  const ULONGLONG deadline = GetTickCount64() + 10000;
  bool ended = false;
  while (!ended && GetTickCount64() < deadline) {
    ended = WaitForSingleObject(process.hProcess, 10) == WAIT_OBJECT_0;
    if (outputRead != nullptr) drainAvailable(outputRead, run.output);
    drainAvailable(err.read, run.errors);
  }
  if (!ended) TerminateProcess(process.hProcess, 99);
  GetExitCodeProcess(process.hProcess, &run.exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return run;
}

}  // namespace kfp::windows_test
