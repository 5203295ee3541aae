#pragma once
// Blocking byte streams under the frame reader and writer.

#include <sys/types.h>
#include <sys/uio.h>

#include <cstddef>

namespace kfp {

class ByteReader {
 public:
  virtual ~ByteReader() = default;
  // Between 1 and `count` bytes read; 0 at the end of input; negative on failure.
  virtual ssize_t read(void* buffer, size_t count) = 0;
};

class ByteWriter {
 public:
  virtual ~ByteWriter() = default;
  // Between 1 and `count` bytes written; 0 or negative on failure.
  virtual ssize_t write(const void* buffer, size_t count) = 0;
  // Writes from several buffers in order, with the same result rule over their total. Streams that
  // cannot gather write from the first non-empty buffer only.
  virtual ssize_t writeGather(const iovec* parts, int count);
};

// File-descriptor streams: EINTR is retried, a closed pipe is a failed write (SIGPIPE is ignored by
// the process).
class FdReader : public ByteReader {
 public:
  explicit FdReader(int fd) : fd_(fd) {}
  ssize_t read(void* buffer, size_t count) override;

 private:
  int fd_;
};

class FdWriter : public ByteWriter {
 public:
  explicit FdWriter(int fd) : fd_(fd) {}
  ssize_t write(const void* buffer, size_t count) override;
  ssize_t writeGather(const iovec* parts, int count) override;

 private:
  int fd_;
};

}  // namespace kfp
