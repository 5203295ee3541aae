#include "protocol/byte_stream.h"

#include <unistd.h>

#include <cerrno>

namespace kfp {

ssize_t FdReader::read(void* buffer, size_t count) {
  for (;;) {
    ssize_t n = ::read(fd_, buffer, count);
    if (n < 0 && errno == EINTR) continue;
    return n;
  }
}

ssize_t ByteWriter::writeGather(const iovec* parts, int count) {
  for (int i = 0; i < count; ++i) {
    if (parts[i].iov_len != 0) return write(parts[i].iov_base, parts[i].iov_len);
  }
  return 0;
}

ssize_t FdWriter::writeGather(const iovec* parts, int count) {
  for (;;) {
    ssize_t n = ::writev(fd_, parts, count);
    if (n < 0 && errno == EINTR) continue;
    return n;
  }
}

ssize_t FdWriter::write(const void* buffer, size_t count) {
  for (;;) {
    ssize_t n = ::write(fd_, buffer, count);
    if (n < 0 && errno == EINTR) continue;
    return n;
  }
}

}  // namespace kfp
