#pragma once
// A renderer child process on three pipes. Every wait has a deadline, so a renderer that hangs
// makes the caller fail instead of blocking it.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "client_frame.h"
#include "outcome.h"

namespace kfp::client {

namespace testing {
class TestAccess;
}

using Milliseconds = std::chrono::milliseconds;

enum class ReadStatus {
  kFrame,        // a whole frame was read
  kEndOfStream,  // the renderer closed its output at a frame boundary
  kTruncated,    // the output ended inside a frame
  kMalformed,    // a frame outside the protocol's limits; the stream cannot be followed further
  kTimeout,      // no whole frame before the deadline; the bytes read so far are kept
  kClosed,       // the host's read end has been closed
};

const char* readStatusName(ReadStatus status);

struct ProcessExit {
  enum class Kind { kRunning, kExited, kSignaled };
  Kind kind = Kind::kRunning;
  int value = 0;  // the exit code, or the signal number

  bool exitedWith(int code) const { return kind == Kind::kExited && value == code; }
  std::string describe() const;
};

class RendererProcess {
 public:
  // Starts `path` with `args` after argv[0]. The child's stderr goes to its own pipe so that it
  // can be inspected; the child starts with default signal dispositions and an empty mask whatever
  // the host's are. Null with `error` set when the process cannot be started. The host's own signal
  // dispositions are left alone: a write to a renderer that went away is a failed write. Fails
  // with RENDERER_START_FAILED when the process cannot be started.
  static Outcome<std::unique_ptr<RendererProcess>> spawn(const std::string& path,
                                                         const std::vector<std::string>& args);
  ~RendererProcess();  // kills a child that is still running and reaps it

  RendererProcess(const RendererProcess&) = delete;
  RendererProcess& operator=(const RendererProcess&) = delete;

  int pid() const { return pid_; }

  // Writes all bytes to the child's stdin; false when the pipe is closed (the child went away) or
  // the child stops reading for longer than `timeout`.
  bool writeBytes(const void* bytes, size_t count, Milliseconds timeout = Milliseconds(10000));
  // False without writing anything when the frame would break the protocol's limits.
  bool writeFrame(uint8_t type, std::string_view json, const std::vector<uint8_t>& payload = {},
                  Milliseconds timeout = Milliseconds(10000));

  // Closing input is how a host ends a session.
  void closeInput();

  ReadStatus readFrame(Frame& frame, Milliseconds timeout);
  // Everything the child writes to stdout until it closes it, for a child that answers with plain
  // output (a listing) rather than frames; false on timeout.
  bool readOutputToEnd(std::string& out, Milliseconds timeout);

  // Waits for the child to end; Kind::kRunning when it is still running at the deadline.
  ProcessExit waitForExit(Milliseconds timeout);
  // Ends a running child at once (SIGKILL; TerminateProcess on Windows) and reaps it.
  ProcessExit kill();

  // The first kStderrKept bytes the child wrote to stderr so far; the rest is read and dropped,
  // so that a renderer that floods stderr cannot grow the host. After the child has exited this
  // includes everything kept.
  static constexpr size_t kStderrKept = 64 * 1024;
  const std::string& stderrText();

  // At most this much of the child's stdout is read ahead of the frames the host has asked for
  // (beyond the frame being read); a child that writes faster than the host reads then waits on
  // its full pipe. Only while the host is itself blocked writing to the child is more taken in.
  static constexpr size_t kOutputReadAhead = 1 << 20;

 private:
  friend class testing::TestAccess;
  RendererProcess() = default;
  // Makes the renderer's next write fail.
  void closeOutput();
  // False once the host has closed its read end.
  bool outputOpen() const;
  // One non-blocking read of at least 64 KiB, or `wanted` bytes, into the output buffer; true
  // when it brought bytes or the end.
  bool readSomeOutput(size_t wanted);
  // One write of up to `count` pieces, waiting for room until `deadline`; the bytes written, or
  // -1 when the pipe is closed or the deadline passed.
  ptrdiff_t writeSome(const void* const* data, const size_t* sizes, int count,
                      std::chrono::steady_clock::time_point deadline);
  friend class ProcessInputWriter;
  // Reads until readSomeOutput succeeds; false at the deadline.
  bool fillOutput(std::chrono::steady_clock::time_point deadline, size_t wanted);
  void drainStderr(int waitMs);
  // The most stdout bytes held unread at once (an upper bound), for the tests of the read-ahead.
  size_t outputHighWater();

  // Native process id and pipe descriptors.
  int pid_ = -1;
#ifdef _WIN32
  // The process, its job, the pipes and the threads that read them.
  struct Windows;
  std::unique_ptr<Windows> windows_;
#else
  int inFd_ = -1;
  int outFd_ = -1;
  int errFd_ = -1;
#endif
  bool outputEnded_ = false;
  ProcessExit exit_;
  // Grows by whole read steps; leaving new bytes uninitialised spares a 64 KiB fill per read.
  template <typename T>
  struct UninitializedAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
      using other = UninitializedAllocator<U>;
    };
    template <typename U>
    void construct(U* p) noexcept {
      ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
      ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
  };
  std::vector<uint8_t, UninitializedAllocator<uint8_t>> output_;
  size_t outputStart_ = 0;
  size_t heldOutputHighWater_ = 0;
  std::string stderr_;
};

}  // namespace kfp::client
