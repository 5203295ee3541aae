#include "platform/linux/files/mapped_font_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/linux/files/font_file_watch.h"
#include "platform/linux/files/sigbus_guard.h"

namespace kfp::linux_backend {
namespace {

FileIdentity identityOf(const struct stat& info) {
  return {info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
}

bool sameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace

bool FileIdentity::operator==(const FileIdentity& other) const {
  return device == other.device && inode == other.inode && size == other.size &&
         sameTime(modified, other.modified) && sameTime(statusChanged, other.statusChanged);
}

std::shared_ptr<MappedFontFile> MappedFontFile::map(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat info {};
  void* data = MAP_FAILED;
  if (fstat(fd, &info) == 0 && info.st_size > 0) {
    // Private and read-only like HarfBuzz's own file blobs, so that HarfBuzz may still make a
    // table writable (copy on write) when it has to repair it.
    data = mmap(nullptr, size_t(info.st_size), PROT_READ, MAP_PRIVATE | MAP_NORESERVE, fd, 0);
  }
  if (data == MAP_FAILED) {
    close(fd);
    return nullptr;
  }
  std::shared_ptr<MappedFontFile> file(new MappedFontFile());
  file->path_ = path;
  file->data_ = data;
  file->size_ = size_t(info.st_size);
  file->identity_ = identityOf(info);
  guardMappedRange(data, file->size_, &file->changed_);
  // Watched from after the fstat above: a write in between changes what the open descriptor
  // reports now (the status-change time at least), without a second walk of the path.
  file->watch_ = font_file_watch::watch(path, file.get());
  struct stat now {};
  if (fstat(fd, &now) != 0 || !(identityOf(now) == file->identity_)) {
    file->changed_.store(true, std::memory_order_relaxed);
  }
  close(fd);
  return file;
}

MappedFontFile::~MappedFontFile() {
  font_file_watch::unwatch(watch_, this);
  unguardMappedRange(data_);
  munmap(data_, size_);
}

bool MappedFontFile::changed() const {
  if (changed_.load(std::memory_order_relaxed)) return true;
  const bool watched = watch_ != font_file_watch::kUnwatched;
  if (watched) {
    font_file_watch::collectEvents();
    // The flags are read before anything is cleared: a write seen once stays a change, even when
    // the path is gone or names another inode by the time of this check.
    if (written_.load(std::memory_order_relaxed)) {
      changed_.store(true, std::memory_order_relaxed);
      return true;
    }
    if (!touched_.load(std::memory_order_relaxed)) return false;
  }
  const bool changed = identityChanged(/*vanishedCounts=*/!watched);
  if (changed) changed_.store(true, std::memory_order_relaxed);
  // Cleared only once the check came out clean; an event in between sets it again.
  if (watched && !changed) touched_.store(false, std::memory_order_relaxed);
  return changed;
}

bool MappedFontFile::knownChanged() const {
  if (changed_.load(std::memory_order_relaxed)) return true;
  if (watch_ == font_file_watch::kUnwatched) return false;
  font_file_watch::collectEvents();
  if (!written_.load(std::memory_order_relaxed)) return false;
  changed_.store(true, std::memory_order_relaxed);
  return true;
}

bool MappedFontFile::identityChanged(bool vanishedCounts) const {
  struct stat info {};
  // A file that is gone or replaced by another inode leaves the mapped one intact, but only the
  // watch can tell that it was not written to before it went.
  if (stat(path_.c_str(), &info) != 0 || info.st_dev != identity_.device ||
      info.st_ino != identity_.inode) {
    return vanishedCounts;
  }
  return !(identityOf(info) == identity_);
}

}  // namespace kfp::linux_backend
