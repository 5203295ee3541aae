#pragma once
// One installed font file mapped read-only, shared by every face opened from it.
//
// Font files are read in place for as long as their faces are cached, and a font manager may
// truncate or rewrite a file meanwhile (`cp new.ttf installed.ttf`). Copying every file into the
// heap would put whole font families on the memory guard's figure, and leases need the file's
// owner. So the mapping stays, and two things make it safe:
// - a read past the new end of the file (SIGBUS) is caught: the whole mapping is replaced by zero
//   pages, the read resumes on zeros, and the file is marked changed (sigbus_guard.h);
// - before a face is used, changed() looks at what the watch saw (font_file_watch.h): a write to
//   the mapped inode (cp over it, truncate, append) is a change whatever became of its name since;
//   after any other event (times, links), or on every use when the file cannot be watched, the
//   file's identity (device, inode, size, modification and status-change times) is compared with
//   the one mapped. The status-change time catches a same-size rewrite whose modification time was
//   put back (touch -r).
// A changed file is never used again: its faces give per-font errors until the cache is cleared
// and the file is mapped anew. A watched file that was replaced by rename or removed, without a
// write, keeps its old inode alive under the mapping, so that is not a change; an unwatched one
// cannot tell, and counts as changed.

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <ctime>
#include <memory>
#include <string>

namespace kfp::linux_backend {

// What tells one version of a font file from another.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  timespec statusChanged{};
  bool operator==(const FileIdentity& other) const;
};

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
  // Called by the watch on an event of the mapped inode: a write (`written`) is a change; any other
  // event makes the next changed() check the file's identity.
  void touch(bool written) {
    if (written) written_.store(true, std::memory_order_relaxed);
    touched_.store(true, std::memory_order_relaxed);
  }
  // changed() without the stat(): true once a fault, a failed check or a write reported by the
  // watch has been seen. Checked after a use, it catches a write made during that use.
  bool knownChanged() const;
  // The identity of the file when it was mapped.
  const FileIdentity& identity() const { return identity_; }

 private:
  MappedFontFile() = default;
  bool identityChanged(bool vanishedCounts) const;
  std::string path_;
  void* data_ = nullptr;
  size_t size_ = 0;
  FileIdentity identity_;
  // Set by the SIGBUS handler, hence atomic and lock-free; also remembers a failed identity check.
  mutable std::atomic<bool> changed_{false};
  mutable std::atomic<bool> touched_{false};
  std::atomic<bool> written_{false};
  int watch_ = -1;  // font_file_watch::kUnwatched
};

}  // namespace kfp::linux_backend
