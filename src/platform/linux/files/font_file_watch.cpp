#include "platform/linux/files/font_file_watch.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <atomic>
#include <unordered_map>

#include "platform/linux/files/mapped_font_file.h"

namespace kfp::linux_backend::font_file_watch {
namespace {

std::atomic<bool> eventsPending{false};

void onSigio(int) {
  eventsPending.store(true, std::memory_order_relaxed);
}

class Watcher {
 public:
  Watcher() {
    struct sigaction action {};
    action.sa_handler = onSigio;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    if (sigaction(SIGIO, &action, nullptr) != 0) return;
    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) return;
    if (fcntl(fd, F_SETOWN, getpid()) != 0 ||
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_ASYNC | O_NONBLOCK) != 0) {
      close(fd);
      return;
    }
    fd_ = fd;
  }

  int watch(const std::string& path, MappedFontFile* file) {
    if (fd_ < 0 || !watching_) return kUnwatched;
    // Writes and truncation (IN_MODIFY), a change of the mapped bytes; time or link changes
    // (IN_ATTRIB), which the identity check then sorts out. The same inode gives the same
    // descriptor.
    const int descriptor = inotify_add_watch(fd_, path.c_str(), IN_MODIFY | IN_ATTRIB);
    if (descriptor < 0) return kUnwatched;
    files_.emplace(descriptor, file);
    return descriptor;
  }

  void unwatch(int descriptor, MappedFontFile* file) {
    auto [first, last] = files_.equal_range(descriptor);
    size_t others = 0;
    for (auto it = first; it != last;) {
      if (it->second == file) {
        it = files_.erase(it);
      } else {
        ++others, ++it;
      }
    }
    if (others == 0 && fd_ >= 0) inotify_rm_watch(fd_, descriptor);
  }

  void setWatching(bool on) { watching_ = on; }

  void collect() {
    if (!eventsPending.exchange(false, std::memory_order_relaxed) || fd_ < 0) return;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n <= 0) break;
      // A read that left room for the largest event emptied the queue; an event queued since
      // raised SIGIO again (the flag was cleared first), so no second read is needed to see it.
      const bool emptied = size_t(n) + sizeof(inotify_event) + NAME_MAX + 1 <= sizeof buffer;
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if (event->mask & IN_Q_OVERFLOW) {
          // Events were lost: any file may have been written.
          for (auto& [descriptor, file] : files_) file->touch(true);
        } else {
          const bool written = event->mask & IN_MODIFY;
          auto [first, last] = files_.equal_range(event->wd);
          for (auto it = first; it != last; ++it) it->second->touch(written);
        }
        at += ssize_t(sizeof(inotify_event) + event->len);
      }
      if (emptied) break;
    }
  }

 private:
  int fd_ = -1;
  bool watching_ = true;
  std::unordered_multimap<int, MappedFontFile*> files_;
};

Watcher& watcher() {
  static auto* instance = new Watcher();  // never destroyed: faces may outlive static destructors
  return *instance;
}

}  // namespace

int watch(const std::string& path, MappedFontFile* file) {
  return watcher().watch(path, file);
}

void unwatch(int descriptor, MappedFontFile* file) {
  if (descriptor != kUnwatched) watcher().unwatch(descriptor, file);
}

void collectEvents() {
  watcher().collect();
}

void setWatching(bool on) {
  watcher().setWatching(on);
}

}  // namespace kfp::linux_backend::font_file_watch
