#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>
#ifdef KFP_SANITIZED
#include <sanitizer/allocator_interface.h>
#endif

#include <cerrno>
#include <charconv>
#include <cstdint>

#include "platform/linux/process_memory.h"

namespace kfp::linux_backend {
namespace {

// /proc/self/statm, opened once: the guard reads it twice per frame, and pread on a kept
// descriptor costs about a microsecond where open + read + close costs several.
class StatmFile {
 public:
  StatmFile() : fd_(::open("/proc/self/statm", O_RDONLY | O_CLOEXEC)) {}
  ~StatmFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  StatmFile(const StatmFile&) = delete;
  StatmFile& operator=(const StatmFile&) = delete;

  // The file's text, at most size - 1 bytes; 0 when it cannot be read.
  size_t read(char* buffer, size_t size) const {
    if (fd_ < 0 || size == 0) return 0;
    ssize_t got;
    do {
      got = ::pread(fd_, buffer, size - 1, 0);
    } while (got < 0 && errno == EINTR);
    return got > 0 ? size_t(got) : 0;
  }

 private:
  int fd_;
};

// Parses the next decimal field of [*cursor, end); false when there is none.
bool nextField(const char** cursor, const char* end, uint64_t* value) {
  while (*cursor < end && **cursor == ' ') ++*cursor;
  const auto [next, error] = std::from_chars(*cursor, end, *value);
  if (error != std::errc()) return false;
  *cursor = next;
  return true;
}

}  // namespace

// The private commit of a Windows process has no exact Linux twin. The nearest figure that grows
// with what this process allocates, and falls when it gives memory back, is its anonymous resident
// memory (RssAnon): heap, stacks and anonymous mappings that are actually backed, without the
// file-backed pages (fonts, libraries) the kernel may drop and reload at will. statm gives it as
// resident - shared, in pages. Virtual size would count untouched reservations (allocator arenas,
// sanitizer shadow) and is useless as a limit.
uint64_t readPrivateBytes() {
  static const StatmFile statm;
  static const uint64_t pageSize = uint64_t(sysconf(_SC_PAGESIZE));
  char text[128];
  const size_t length = statm.read(text, sizeof text);
  if (length == 0) return 0;
  const char* cursor = text;
  const char* end = text + length;
  uint64_t size = 0, resident = 0, shared = 0;
  if (!nextField(&cursor, end, &size) || !nextField(&cursor, end, &resident) ||
      !nextField(&cursor, end, &shared) || shared > resident) {
    return 0;
  }
  return (resident - shared) * pageSize;
}

// Without a trim, memory freed by a cache clear stays in the allocator's free lists, the figure
// above does not fall, and the soft limit would fire again on every frame.
void releaseFreeHeap() {
#ifdef KFP_SANITIZED
  // The sanitizer's allocator stands in for glibc's: its quarantine and free lists are emptied
  // through its own call.
  __sanitizer_purge_allocator();
#else
  malloc_trim(0);
#endif
}

}  // namespace kfp::linux_backend
