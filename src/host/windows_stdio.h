#pragma once
// The renderer's standard handles on Windows. A host may hand over any kind of handle: an anonymous
// pipe, either end of a named pipe in byte or message mode, blocking or not, opened for overlapped
// I/O or not, a file, a device, or nothing usable at all. These streams accept the usable ones and
// read and write them all the same way.

#include <windows.h>

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

}  // namespace kfp
