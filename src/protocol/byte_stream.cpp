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

ssize_t FdWriter::write(const void* buffer, size_t count) {
  for (;;) {
    ssize_t n = ::write(fd_, buffer, count);
    if (n < 0 && errno == EINTR) continue;
    return n;
  }
}

}  // namespace kfp
