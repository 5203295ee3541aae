#pragma once
// Blocking byte streams under the frame reader and writer. Each process entry supplies them over
// its OS's standard handles; tests use in-memory ones.

#include <cstddef>

namespace kfp {

// One piece of a gathered write.
struct ByteSpan {
  const void* data;
  size_t size;
};

class ByteReader {
 public:
  virtual ~ByteReader() = default;
  // Between 1 and `count` bytes read; 0 at the end of input; negative on failure.
  virtual ptrdiff_t read(void* buffer, size_t count) = 0;
};

class ByteWriter {
 public:
  virtual ~ByteWriter() = default;
  // Between 1 and `count` bytes written; 0 or negative on failure.
  virtual ptrdiff_t write(const void* buffer, size_t count) = 0;
  // Writes from several buffers in order, with the same result rule over their total. Streams that
  // cannot gather write from the first non-empty buffer only.
  virtual ptrdiff_t writeGather(const ByteSpan* parts, int count);
};

}  // namespace kfp
