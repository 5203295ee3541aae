// kest-font-preview-renderer on Windows: the process entry and the standard handles. A host may
// hand over any kind of handle: an anonymous pipe, either end of a named pipe in byte or message
// mode, blocking or not, opened for overlapped I/O or not, a file, a device, or nothing usable at
// all. The streams below accept the usable ones and read and write them all the same way.

#include <objbase.h>
#include <windows.h>
#include <winternl.h>

#include <cstring>
#include <string>

#include "host/command_line.h"
#include "host/message_loop.h"
#include "platform/windows/confinement.h"
#include "platform/windows/windows_backend.h"
#include "protocol/byte_stream.h"

namespace kfp {

enum class HandleUse { kRead, kWrite };

// One standard handle, checked and prepared for blocking transfers.
class StandardHandle {
 public:
  // Usable when it is a file, pipe or character device whose access allows `use`. A pipe that
  // does not wait for data is switched to waiting, or is not usable when the handle lacks the
  // right to switch it (a server's inbound end): the renderer does not poll.
  StandardHandle(HANDLE handle, HandleUse use);
  ~StandardHandle();
  StandardHandle(const StandardHandle&) = delete;
  StandardHandle& operator=(const StandardHandle&) = delete;

  bool usable() const { return usable_; }
  // After a zero-byte read: true when the handle is a pipe that the platform reports as still
  // open (a writer's empty write or an empty message), false when it reports it closed or cannot
  // tell (under Wine, a host's POSIX pipe reads zero bytes only at its end).
  bool pipeStillOpen() const;

  // One ReadFile or WriteFile of at most `count` bytes, waited for; the bytes moved and the error
  // (ERROR_SUCCESS when none). A message longer than `count` gives its first part with
  // ERROR_MORE_DATA.
  struct Transfer {
    DWORD bytes;
    DWORD error;
  };
  Transfer transfer(void* buffer, size_t count);

 private:
  HANDLE handle_;
  HandleUse use_;
  DWORD type_ = FILE_TYPE_UNKNOWN;
  bool usable_ = false;
  // A handle opened for overlapped I/O keeps no file position and may complete a transfer later:
  // each one gets its own OVERLAPPED, waited for on this event, at the offset kept here.
  HANDLE event_ = nullptr;
  ULONGLONG offset_ = 0;
};

// Standard input. End of input is a closed pipe or the end of a file, never a zero-byte read on a
// pipe that is still open.
class HandleReader : public ByteReader {
 public:
  explicit HandleReader(StandardHandle& handle) : handle_(handle) {}
  ptrdiff_t read(void* buffer, size_t count) override;

 private:
  StandardHandle& handle_;
};

// Standard output; bytes go out as they are (handles know no text mode).
class HandleWriter : public ByteWriter {
 public:
  explicit HandleWriter(StandardHandle& handle) : handle_(handle) {}
  ptrdiff_t write(const void* buffer, size_t count) override;
  // Pipes cannot gather. Leading parts that fit are copied into one buffer, so that a reply leaves
  // in one write and a bitmap frame in two (header and JSON, then the payload).
  ptrdiff_t writeGather(const ByteSpan* parts, int count) override;

 private:
  StandardHandle& handle_;
  unsigned char gathered_[16384];
};

namespace {

DWORD clampToDword(size_t count) {
  return count > MAXDWORD ? MAXDWORD : static_cast<DWORD>(count);
}

// The rights the handle was opened with. A handle the kernel cannot describe (none is known today)
// is given the benefit of the doubt: its first transfer decides.
bool grantsAccess(HANDLE handle, ACCESS_MASK wanted) {
  PUBLIC_OBJECT_BASIC_INFORMATION info{};
  ULONG size = 0;
  if (NtQueryObject(handle, ObjectBasicInformation, &info, sizeof info, &size) < 0) return true;
  return (info.GrantedAccess & (wanted | GENERIC_ALL)) != 0;
}

// Without FILE_SYNCHRONOUS_IO_* the handle was opened with FILE_FLAG_OVERLAPPED, and ReadFile or
// WriteFile without an OVERLAPPED would be undefined on it.
bool isOverlapped(HANDLE handle) {
  IO_STATUS_BLOCK status{};
  FILE_MODE_INFORMATION mode{};
  if (NtQueryInformationFile(handle, &status, &mode, sizeof mode, FileModeInformation) < 0) {
    return false;
  }
  return (mode.Mode & (FILE_SYNCHRONOUS_IO_ALERT | FILE_SYNCHRONOUS_IO_NONALERT)) == 0;
}

// A non-blocking pipe answers an empty read with ERROR_NO_DATA and a full one with a short write;
// the loop needs blocking transfers. The read mode (byte or message) is kept.
bool makePipeWait(HANDLE handle) {
  DWORD state = 0;
  if (!GetNamedPipeHandleStateW(handle, &state, nullptr, nullptr, nullptr, nullptr, 0)) {
    return true;  // not a named pipe's end (a socket, say): it blocks
  }
  if ((state & PIPE_NOWAIT) == 0) return true;
  DWORD mode = (state & PIPE_READMODE_MESSAGE) | PIPE_WAIT;
  return SetNamedPipeHandleState(handle, &mode, nullptr, nullptr);
}

}  // namespace

StandardHandle::StandardHandle(HANDLE handle, HandleUse use) : handle_(handle), use_(use) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
  // FILE_TYPE_UNKNOWN is a closed or made-up handle value, or an object that is no file (an
  // event, a process: Wine hands a child its parent's process handle where the host passed
  // INVALID_HANDLE_VALUE).
  type_ = GetFileType(handle);
  if (type_ != FILE_TYPE_DISK && type_ != FILE_TYPE_PIPE && type_ != FILE_TYPE_CHAR) return;
  // A file may be opened for appending only; on a pipe that right means something else.
  const ACCESS_MASK wanted =
      use == HandleUse::kRead
          ? FILE_READ_DATA | GENERIC_READ
          : FILE_WRITE_DATA | GENERIC_WRITE | (type_ == FILE_TYPE_DISK ? FILE_APPEND_DATA : 0);
  if (!grantsAccess(handle, wanted)) return;
  if (type_ == FILE_TYPE_PIPE && !makePipeWait(handle)) return;
  if (isOverlapped(handle)) {
    event_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event_ == nullptr) return;
    // Overlapped file transfers name their offset: start where the host left the file.
    LARGE_INTEGER position{};
    if (type_ == FILE_TYPE_DISK && SetFilePointerEx(handle, {}, &position, FILE_CURRENT)) {
      offset_ = static_cast<ULONGLONG>(position.QuadPart);
    }
  }
  usable_ = true;
}

StandardHandle::~StandardHandle() {
  if (event_ != nullptr) CloseHandle(event_);
}

bool StandardHandle::pipeStillOpen() const {
  if (type_ != FILE_TYPE_PIPE) return false;
  DWORD available = 0;
  return PeekNamedPipe(handle_, nullptr, 0, nullptr, &available, nullptr) != FALSE;
}

StandardHandle::Transfer StandardHandle::transfer(void* buffer, size_t count) {
  const DWORD size = clampToDword(count);
  const bool reading = use_ == HandleUse::kRead;
  if (event_ == nullptr) {
    DWORD done = 0;
    const BOOL ok = reading ? ReadFile(handle_, buffer, size, &done, nullptr)
                            : WriteFile(handle_, buffer, size, &done, nullptr);
    return {done, ok ? ERROR_SUCCESS : GetLastError()};
  }
  OVERLAPPED overlapped{};
  overlapped.Offset = static_cast<DWORD>(offset_);
  overlapped.OffsetHigh = static_cast<DWORD>(offset_ >> 32);
  overlapped.hEvent = event_;
  const BOOL ok = reading ? ReadFile(handle_, buffer, size, nullptr, &overlapped)
                          : WriteFile(handle_, buffer, size, nullptr, &overlapped);
  const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
  // Anything else failed before the transfer was queued; a queued one is always waited for, even
  // when it completed at once, since only its result holds the byte count.
  if (error != ERROR_SUCCESS && error != ERROR_IO_PENDING && error != ERROR_MORE_DATA) {
    return {0, error};
  }
  DWORD done = 0;
  const BOOL finished = GetOverlappedResult(handle_, &overlapped, &done, TRUE);
  if (type_ == FILE_TYPE_DISK) offset_ += done;
  return {done, finished ? ERROR_SUCCESS : GetLastError()};
}

ptrdiff_t HandleReader::read(void* buffer, size_t count) {
  for (;;) {
    const StandardHandle::Transfer t = handle_.transfer(buffer, count);
    switch (t.error) {
      case ERROR_SUCCESS:
      case ERROR_MORE_DATA:  // part of a longer message; the next read continues it
        if (t.bytes > 0) return static_cast<ptrdiff_t>(t.bytes);
        // Zero bytes from a file or a device is its end; from a pipe, the pipe says.
        if (handle_.pipeStillOpen()) continue;
        return 0;
      case ERROR_BROKEN_PIPE:  // every writer has closed its end
      case ERROR_HANDLE_EOF:   // an overlapped read at the end of a file
        return 0;
      default:
        return -1;
    }
  }
}

ptrdiff_t HandleWriter::write(const void* buffer, size_t count) {
  const StandardHandle::Transfer t = handle_.transfer(const_cast<void*>(buffer), count);
  if (t.error != ERROR_SUCCESS) return -1;
  return static_cast<ptrdiff_t>(t.bytes);
}

ptrdiff_t HandleWriter::writeGather(const ByteSpan* parts, int count) {
  size_t used = 0;
  for (int i = 0; i < count && parts[i].size <= sizeof gathered_ - used; ++i) {
    if (parts[i].size != 0) std::memcpy(gathered_ + used, parts[i].data, parts[i].size);
    used += parts[i].size;
  }
  if (used == 0) return ByteWriter::writeGather(parts, count);
  return write(gathered_, used);
}

namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows text is UTF-16");

// Ends the COM apartment on every way out of the entry, an escaping exception included.
class ComApartment {
 public:
  ComApartment() : result_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~ComApartment() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  bool entered() const { return SUCCEEDED(result_); }

 private:
  HRESULT result_;
};

// Gives the main thread its message queue before anything else runs. The one message posted to
// it is taken back at once; the queue is never looked at again.
void createMessageQueue() {
  MSG message;
  PeekMessageW(&message, nullptr, WM_APP, WM_APP, PM_NOREMOVE);
  if (PostThreadMessageW(GetCurrentThreadId(), WM_APP, 0, 0)) {
    GetMessageW(&message, nullptr, WM_APP, WM_APP);
  }
}

// The command line after the program name, as UTF-8.
std::string argumentTextUtf8() {
  const std::u16string_view text =
      argumentText(reinterpret_cast<const char16_t*>(GetCommandLineW()));
  if (text.empty()) return {};
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int units = static_cast<int>(text.size());
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, units, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string utf8(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, units, utf8.data(), bytes, nullptr, nullptr);
  return utf8;
}

int run() {
  createMessageQueue();
  const std::string arguments = argumentTextUtf8();
  if (isVersionRequest(arguments)) {
    StandardHandle output(GetStdHandle(STD_OUTPUT_HANDLE), HandleUse::kWrite);
    if (output.usable()) {
      HandleWriter out(output);
      writeVersionLine(out);
    }
    return kExitOk;
  }

  // The font list needs stdout alone.
  if (isListFontsRequest(arguments)) {
    StandardHandle output(GetStdHandle(STD_OUTPUT_HANDLE), HandleUse::kWrite);
    if (!output.usable()) return kExitBadHandles;
    const ComApartment apartment;
    if (!apartment.entered()) return kExitInitializeFailed;
    HandleWriter out(output);
    return writeInstalledFontList(*createWindowsBackend(), out);
  }

  // Missing, closed, made-up, or opened the wrong way: the host gets nothing from this renderer.
  StandardHandle input(GetStdHandle(STD_INPUT_HANDLE), HandleUse::kRead);
  StandardHandle output(GetStdHandle(STD_OUTPUT_HANDLE), HandleUse::kWrite);
  if (!input.usable() || !output.usable()) return kExitBadHandles;

  // Nothing has been written yet; the renderer cannot run without its platform components.
  const ComApartment apartment;
  if (!apartment.entered()) return kExitInitializeFailed;

  HandleReader in(input);
  HandleWriter out(output);
  const auto backend = createWindowsBackend();
  // Confined once COM, the backend and its font sets are set up, before anything the host sent
  // is parsed.
  return runMessageLoop(*backend, in, out, LoopEnd::kReturn,
                        [] { windows_backend::confineProcess(); });
}

}  // namespace
}  // namespace kfp

int main() {
  // A crash must end the process rather than wait on an error dialog that nobody sees: the host
  // learns of it from the exit status and starts a fresh renderer.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  try {
    return kfp::run();
  } catch (...) {
    // Only the start-up can throw (the loop answers its own failures). Letting it escape would
    // print the runtime's abort message on standard error.
    return kfp::kExitInitializeFailed;
  }
}
