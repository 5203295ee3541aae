#include "renderer_process.h"

// The Windows process code: CreateProcessW on three pipes, one job object per renderer, and a
// reader thread per output pipe so that every wait can have a deadline.
//
// The pipes are named pipes with unique names rather than CreatePipe's anonymous ones: those
// cannot be opened for overlapped I/O, and a write that the child stops reading could then never
// be abandoned at its deadline. The child's ends are ordinary synchronous handles.

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "protocol/frame.h"

namespace kfp::client {
namespace {

using Clock = std::chrono::steady_clock;

// The job's backstop: far above the renderer's own hard limit, so that only a renderer whose own
// accounting failed ever meets it.
constexpr SIZE_T kJobProcessMemoryLimit = SIZE_T(1) << 30;
// Reported for a renderer the host ended; Windows has no signals, this mirrors SIGKILL.
constexpr int kKilledByHost = 9;
constexpr DWORD kPipeBuffer = 65536;
// Large writes go in pieces, so that a write abandoned at its deadline has moved what it could.
constexpr DWORD kWriteChunk = 1u << 20;

void closeHandle(HANDLE& handle) {
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  handle = nullptr;
}

DWORD remainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<Milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left > 60000 ? 60000 : static_cast<DWORD>(left);
}

std::string systemMessage(DWORD code) {
  char text[256] = {};
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, text, sizeof text, nullptr);
  std::string out(text, n);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.')) {
    out.pop_back();
  }
  return out + " (" + std::to_string(code) + ")";
}

bool toWide(const std::string& text, std::wstring& out) {
  out.clear();
  if (text.empty()) return true;
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                    static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return false;
  out.resize(size_t(n));
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                             static_cast<int>(text.size()), out.data(), n) == n;
}

// One argument as the C runtime and CommandLineToArgvW split it back: quoted when it is empty or
// holds white space or a quote; backslashes are literal except before a quote, where each one and
// the quote itself are escaped.
void appendQuoted(std::wstring& out, const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    out += arg;
    return;
  }
  out += L'"';
  for (size_t i = 0;; ++i) {
    size_t backslashes = 0;
    while (i < arg.size() && arg[i] == L'\\') ++i, ++backslashes;
    if (i == arg.size()) {
      out.append(backslashes * 2, L'\\');  // the closing quote follows
      break;
    }
    if (arg[i] == L'"') {
      out.append(backslashes * 2 + 1, L'\\');
    } else {
      out.append(backslashes, L'\\');
    }
    out += arg[i];
  }
  out += L'"';
}

// A named pipe whose host end is overlapped and not inheritable, and whose child end is
// synchronous and inheritable (it is listed for the child explicitly, so no other child gets it).
bool createPipe(bool hostWrites, HANDLE& host, HANDLE& child, DWORD& error) {
  static std::atomic<unsigned> serial{0};
  wchar_t name[128];
  swprintf(name, 128, L"\\\\.\\pipe\\kfp-renderer-%lu-%u-%llu", GetCurrentProcessId(), serial++,
           static_cast<unsigned long long>(GetTickCount64()));
  host =
      CreateNamedPipeW(name,
                       (hostWrites ? PIPE_ACCESS_OUTBOUND : PIPE_ACCESS_INBOUND) |
                           FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                       PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                       1, kPipeBuffer, kPipeBuffer, 0, nullptr);
  if (host == INVALID_HANDLE_VALUE) {
    error = GetLastError();
    host = nullptr;
    return false;
  }
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  child = CreateFileW(
      name,
      hostWrites ? GENERIC_READ | FILE_WRITE_ATTRIBUTES : GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0,
      &inherit, OPEN_EXISTING, 0, nullptr);
  if (child == INVALID_HANDLE_VALUE) {
    error = GetLastError();
    child = nullptr;
    closeHandle(host);
    return false;
  }
  return true;
}

// One output pipe read on its own thread into a buffer that the host takes from; `cap` bytes are
// kept at most and the rest is read and dropped. Once `readAhead` bytes wait for the host, the
// thread stops reading until the host takes them, so that a child writing faster than the host
// reads blocks on its full pipe instead of growing the host; except while the host is blocked
// writing to the child (`draining`), which may itself wait for the child to get its replies out.
struct OutputPipe {
  HANDLE pipe = nullptr;
  HANDLE stop = nullptr;  // set to make the thread cancel its read and return
  std::thread thread;
  std::mutex mutex;
  std::condition_variable changed;
  std::string data;
  size_t kept = 0;
  size_t cap = SIZE_MAX;
  size_t readAhead = SIZE_MAX;
  bool draining = false;
  bool stopping = false;
  bool ended = false;
  size_t highWater = 0;  // the most bytes `data` held at once

  void start() {
    stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread = std::thread([this] { run(); });
  }

  void run() {
    HANDLE io = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::string buffer(65536, '\0');
    for (;;) {
      {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return stopping || draining || data.size() < readAhead; });
        if (stopping) break;
      }
      OVERLAPPED overlapped{};
      overlapped.hEvent = io;
      DWORD n = 0;
      BOOL ok = ReadFile(pipe, buffer.data(), DWORD(buffer.size()), nullptr, &overlapped);
      if (!ok && GetLastError() == ERROR_IO_PENDING) {
        HANDLE waits[2] = {io, stop};
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
          CancelIoEx(pipe, &overlapped);
          GetOverlappedResult(pipe, &overlapped, &n, TRUE);
          break;
        }
        ok = TRUE;
      }
      if (ok) ok = GetOverlappedResult(pipe, &overlapped, &n, TRUE);
      // A byte pipe reports its end as a failed read (ERROR_BROKEN_PIPE); any other failure ends
      // the stream just as well.
      if (!ok) break;
      if (n == 0) continue;
      std::lock_guard lock(mutex);
      const size_t room = cap - std::min(cap, kept);
      data.append(buffer.data(), std::min<size_t>(room, n));
      kept += std::min<size_t>(room, n);
      highWater = std::max(highWater, data.size());
      changed.notify_all();
    }
    CloseHandle(io);
    std::lock_guard lock(mutex);
    ended = true;
    changed.notify_all();
  }

  // Ends the thread and closes the host's end, whatever the child does.
  void close() {
    if (thread.joinable()) {
      {
        std::lock_guard lock(mutex);
        stopping = true;
      }
      changed.notify_all();
      SetEvent(stop);
      thread.join();
    }
    closeHandle(stop);
    closeHandle(pipe);
  }
};

}  // namespace

struct RendererProcess::Windows {
  HANDLE process = nullptr;
  HANDLE job = nullptr;
  HANDLE input = nullptr;
  HANDLE writeEvent = nullptr;
  OutputPipe output;
  OutputPipe errors;

  ~Windows() {
    closeHandle(input);
    output.close();
    errors.close();
    closeHandle(writeEvent);
    // The job kills anything still in it, the renderer and whatever it may have started.
    closeHandle(job);
    closeHandle(process);
  }
};

std::string ProcessExit::describe() const {
  switch (kind) {
    case Kind::kRunning:
      return "still running";
    case Kind::kExited: {
      // NTSTATUS codes (a crash is 0xC0000005 and the like) read better in hex.
      if (value >= 0) return "exit code " + std::to_string(value);
      char hex[16];
      std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(value));
      return std::string("exit code ") + hex;
    }
    case Kind::kSignaled:
      return "terminated by the host";
  }
  return "?";
}

Outcome<std::unique_ptr<RendererProcess>> RendererProcess::spawn(
    const std::string& path, const std::vector<std::string>& args) {
  auto fail = [&](const std::string& what,
                  DWORD code) -> Outcome<std::unique_ptr<RendererProcess>> {
    return Error(ErrorKind::kStartFailed, codes::kStartFailed, what + ": " + systemMessage(code));
  };

  std::wstring application;
  if (!toWide(path, application) || path.empty() || path.find('"') != std::string::npos) {
    return fail(path, ERROR_INVALID_NAME);
  }
  // argv[0] is split by its quotes alone; the path holds none.
  std::wstring commandLine = L"\"" + application + L"\"";
  for (const auto& arg : args) {
    std::wstring wide;
    if (!toWide(arg, wide)) return fail("argument is not UTF-8", ERROR_INVALID_PARAMETER);
    commandLine += L' ';
    appendQuoted(commandLine, wide);
  }

  std::unique_ptr<Windows> w(new Windows());
  HANDLE childIn = nullptr, childOut = nullptr, childErr = nullptr;
  struct ChildEnds {
    HANDLE* ends[3];
    ~ChildEnds() {
      for (HANDLE* end : ends) closeHandle(*end);
    }
  } childEnds{{&childIn, &childOut, &childErr}};
  DWORD code = 0;
  if (!createPipe(true, w->input, childIn, code) ||
      !createPipe(false, w->output.pipe, childOut, code) ||
      !createPipe(false, w->errors.pipe, childErr, code)) {
    return fail("pipe", code);
  }
  w->writeEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);

  w->job = CreateJobObjectW(nullptr, nullptr);
  if (w->job == nullptr) return fail("job object", GetLastError());
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags =
      JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_PROCESS_MEMORY;
  limits.ProcessMemoryLimit = kJobProcessMemoryLimit;
  if (!SetInformationJobObject(w->job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
    return fail("job object limits", GetLastError());
  }

  // Only the three pipe ends reach the child, whatever else this process has made inheritable.
  HANDLE inherited[3] = {childIn, childOut, childErr};
  SIZE_T attributeSize = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &attributeSize);
  std::vector<uint8_t> attributeStorage(attributeSize);
  auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributeStorage.data());
  if (!InitializeProcThreadAttributeList(attributes, 1, 0, &attributeSize)) {
    return fail("attribute list", GetLastError());
  }
  struct AttributeList {
    LPPROC_THREAD_ATTRIBUTE_LIST list;
    ~AttributeList() { DeleteProcThreadAttributeList(list); }
  } attributeList{attributes};
  if (!UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                 sizeof inherited, nullptr, nullptr)) {
    return fail("handle list", GetLastError());
  }

  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = childIn;
  startup.StartupInfo.hStdOutput = childOut;
  startup.StartupInfo.hStdError = childErr;
  startup.lpAttributeList = attributes;
  PROCESS_INFORMATION info{};
  // Suspended until it is in its job, so that nothing it starts escapes the job either.
  if (!CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                      CREATE_SUSPENDED | CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT, nullptr,
                      nullptr, &startup.StartupInfo, &info)) {
    return fail(path, GetLastError());
  }
  w->process = info.hProcess;
  if (!AssignProcessToJobObject(w->job, info.hProcess)) {
    const DWORD assignError = GetLastError();
    TerminateProcess(info.hProcess, 1);
    WaitForSingleObject(info.hProcess, INFINITE);
    CloseHandle(info.hThread);
    return fail("job assignment", assignError);
  }
  ResumeThread(info.hThread);
  CloseHandle(info.hThread);

  w->output.readAhead = kOutputReadAhead;
  w->errors.cap = kStderrKept;
  w->output.start();
  w->errors.start();
  std::unique_ptr<RendererProcess> process(new RendererProcess());
  process->pid_ = static_cast<int>(info.dwProcessId);
  process->windows_ = std::move(w);
  return process;
}

RendererProcess::~RendererProcess() {
  closeHandle(windows_->input);
  if (exit_.kind == ProcessExit::Kind::kRunning) kill();
}

ptrdiff_t RendererProcess::writeSome(const void* const* data, const size_t* sizes, int count,
                                     Clock::time_point deadline) {
  // One piece per call: the frame writer continues with the rest.
  int piece = 0;
  while (piece < count && sizes[piece] == 0) ++piece;
  if (piece == count) return 0;
  HANDLE input = windows_->input;
  if (input == nullptr) return -1;
  OVERLAPPED overlapped{};
  overlapped.hEvent = windows_->writeEvent;
  ResetEvent(overlapped.hEvent);
  const DWORD wanted = static_cast<DWORD>(std::min<size_t>(sizes[piece], kWriteChunk));
  DWORD written = 0;
  if (!WriteFile(input, data[piece], wanted, nullptr, &overlapped)) {
    if (GetLastError() != ERROR_IO_PENDING) return -1;  // the child's end is closed
    // The output is read by its own thread meanwhile, past its read-ahead, so a child that is
    // blocked writing replies to earlier requests gets to read again.
    OutputPipe& output = windows_->output;
    auto drain = [&](bool on) {
      {
        std::lock_guard lock(output.mutex);
        output.draining = on;
      }
      output.changed.notify_all();
    };
    drain(true);
    if (WaitForSingleObject(overlapped.hEvent, remainingMs(deadline)) != WAIT_OBJECT_0) {
      CancelIoEx(input, &overlapped);
    }
    drain(false);
  }
  if (!GetOverlappedResult(input, &overlapped, &written, TRUE) && written == 0) return -1;
  return written > 0 ? ptrdiff_t(written) : -1;
}

void RendererProcess::closeInput() {
  closeHandle(windows_->input);
}

void RendererProcess::closeOutput() {
  windows_->output.close();
}

bool RendererProcess::outputOpen() const {
  return windows_->output.pipe != nullptr;
}

bool RendererProcess::readSomeOutput(size_t) {
  OutputPipe& pipe = windows_->output;
  if (pipe.pipe == nullptr || outputEnded_) return false;
  if (outputStart_ > 0 && outputStart_ * 2 >= output_.size()) {
    output_.erase(output_.begin(), output_.begin() + static_cast<ptrdiff_t>(outputStart_));
    outputStart_ = 0;
  }
  std::lock_guard lock(pipe.mutex);
  if (!pipe.data.empty()) {
    output_.insert(output_.end(), pipe.data.begin(), pipe.data.end());
    pipe.data.clear();
    pipe.changed.notify_all();  // the reader may be waiting for room
    return true;
  }
  if (!pipe.ended) return false;
  outputEnded_ = true;
  return true;
}

bool RendererProcess::fillOutput(Clock::time_point deadline, size_t wanted) {
  OutputPipe& pipe = windows_->output;
  for (;;) {
    if (readSomeOutput(wanted)) return true;
    if (pipe.pipe == nullptr) return false;
    std::unique_lock lock(pipe.mutex);
    if (!pipe.changed.wait_until(lock, deadline,
                                 [&] { return !pipe.data.empty() || pipe.ended; })) {
      return false;
    }
  }
}

void RendererProcess::drainStderr(int waitMs) {
  OutputPipe& pipe = windows_->errors;
  std::unique_lock lock(pipe.mutex);
  if (waitMs > 0) {
    pipe.changed.wait_for(lock, Milliseconds(waitMs), [&] { return pipe.ended; });
  }
  stderr_ += pipe.data;
  pipe.data.clear();
}

ProcessExit RendererProcess::waitForExit(Milliseconds timeout) {
  if (exit_.kind != ProcessExit::Kind::kRunning) return exit_;
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    const DWORD waited = WaitForSingleObject(windows_->process, remainingMs(deadline));
    if (waited == WAIT_OBJECT_0) break;
    if (waited != WAIT_TIMEOUT || remainingMs(deadline) == 0) return exit_;
  }
  DWORD code = 0;
  GetExitCodeProcess(windows_->process, &code);
  exit_ = {ProcessExit::Kind::kExited, static_cast<int>(code)};
  // The child's end of stderr closed with it; what it wrote is still on its way through the
  // reader thread.
  drainStderr(static_cast<int>(std::min<DWORD>(remainingMs(deadline), 1000)));
  return exit_;
}

ProcessExit RendererProcess::kill() {
  if (exit_.kind != ProcessExit::Kind::kRunning) return exit_;
  if (WaitForSingleObject(windows_->process, 0) == WAIT_OBJECT_0)
    return waitForExit(Milliseconds(0));
  // The job holds the renderer and anything it started.
  if (!TerminateJobObject(windows_->job, 1)) TerminateProcess(windows_->process, 1);
  WaitForSingleObject(windows_->process, INFINITE);
  exit_ = {ProcessExit::Kind::kSignaled, kKilledByHost};
  return exit_;
}

size_t RendererProcess::outputHighWater() {
  std::lock_guard lock(windows_->output.mutex);
  return heldOutputHighWater_ + windows_->output.highWater;
}

const std::string& RendererProcess::stderrText() {
  drainStderr(0);
  return stderr_;
}

}  // namespace kfp::client
