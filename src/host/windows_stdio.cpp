#include "host/windows_stdio.h"

#include <winternl.h>

#include <cstring>

namespace kfp {
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

}  // namespace kfp
