#pragma once
// One installed font file mapped read-only, shared by every face opened from it.
//
// Font files are read in place for as long as their faces are cached, and a font manager may
// truncate or rewrite a file meanwhile (`cp new.ttf installed.ttf`). Copying every file into the
// heap would put whole font families on the memory guard's figure, and leases need the file's
// owner. So the mapping stays, and two things make it safe:
// - a read past the new end of the file (SIGBUS) is caught: the whole mapping is replaced by zero
//   pages, the read resumes on zeros, and the file is marked changed (sigbus_guard.h);
// - before a face is used, changed() compares the file's identity (inode, size, modification
//   time) with the one mapped, which catches a rewrite in place that left no page beyond the end;
//   it does so only after the file was written to (font_file_watch.h), or on every use when the
//   file cannot be watched.
// A changed file is never used again: its faces give per-font errors until the cache is cleared
// and the file is mapped anew. A file replaced by rename keeps its old inode alive under the
// mapping, so that is not a change.

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <ctime>
#include <memory>
#include <string>

namespace kfp::linux_backend {

class MappedFontFile {
 public:
  // nullptr when the file cannot be opened, is empty or cannot be mapped.
  static std::shared_ptr<MappedFontFile> map(const std::string& path);
  ~MappedFontFile();
  MappedFontFile(const MappedFontFile&) = delete;
  MappedFontFile& operator=(const MappedFontFile&) = delete;

  const std::string& path() const { return path_; }
  const char* data() const { return static_cast<const char*>(data_); }
  size_t size() const { return size_; }
  // True once a read faulted past the file's end, or when the file on disk is no longer the one
  // mapped. No system call unless the file was written to since the last check.
  bool changed() const;
  // Called by the watch when the file was written to: the next changed() checks its identity.
  void touch() { touched_.store(true, std::memory_order_relaxed); }
  // changed() without the stat(): true once a fault or a failed check has been seen.
  bool knownChanged() const { return changed_.load(std::memory_order_relaxed); }

 private:
  MappedFontFile() = default;
  bool identityChanged() const;
  std::string path_;
  void* data_ = nullptr;
  size_t size_ = 0;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  timespec modified_{};
  // Set by the SIGBUS handler, hence atomic and lock-free; also remembers a failed identity check.
  mutable std::atomic<bool> changed_{false};
  mutable std::atomic<bool> touched_{false};
  int watch_ = -1;  // font_file_watch::kUnwatched
};

}  // namespace kfp::linux_backend
