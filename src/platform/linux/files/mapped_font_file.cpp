#include "platform/linux/files/mapped_font_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/linux/files/font_file_watch.h"
#include "platform/linux/files/sigbus_guard.h"

namespace kfp::linux_backend {

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
  close(fd);
  if (data == MAP_FAILED) return nullptr;
  std::shared_ptr<MappedFontFile> file(new MappedFontFile());
  file->path_ = path;
  file->data_ = data;
  file->size_ = size_t(info.st_size);
  file->device_ = info.st_dev;
  file->inode_ = info.st_ino;
  file->modified_ = info.st_mtim;
  guardMappedRange(data, file->size_, &file->changed_);
  // Watched from after the stat above: a write in between is seen by the first identity check.
  file->watch_ = font_file_watch::watch(path, file.get());
  if (file->identityChanged()) file->changed_.store(true, std::memory_order_relaxed);
  return file;
}

MappedFontFile::~MappedFontFile() {
  font_file_watch::unwatch(watch_, this);
  unguardMappedRange(data_);
  munmap(data_, size_);
}

bool MappedFontFile::changed() const {
  if (changed_.load(std::memory_order_relaxed)) return true;
  if (watch_ != font_file_watch::kUnwatched) {
    font_file_watch::collectEvents();
    if (!touched_.exchange(false, std::memory_order_relaxed)) return false;
  }
  if (identityChanged()) changed_.store(true, std::memory_order_relaxed);
  return changed_.load(std::memory_order_relaxed);
}

bool MappedFontFile::identityChanged() const {
  struct stat info {};
  // A file that is gone or replaced by another inode leaves the mapped one intact.
  if (stat(path_.c_str(), &info) != 0 || info.st_dev != device_ || info.st_ino != inode_) {
    return false;
  }
  return size_t(info.st_size) != size_ || info.st_mtim.tv_sec != modified_.tv_sec ||
         info.st_mtim.tv_nsec != modified_.tv_nsec;
}

}  // namespace kfp::linux_backend
