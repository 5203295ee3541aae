#pragma once
// Tells which mapped font files were written to, without a system call while none was: one
// inotify descriptor watches the files (writes, truncation, attribute changes) and raises SIGIO
// when events arrive; the handler only sets a flag, and the events are read on the next check.
// A stat() per use costs several microseconds per font, more than drawing a cached line.
//
// Files that cannot be watched (no inotify, watch limit reached) report kUnwatched and their
// holders check the file's identity on every use instead.

#include <string>

namespace kfp::linux_backend {

class MappedFontFile;

namespace font_file_watch {

constexpr int kUnwatched = -1;

// Starts watching `path` for `file`; the watch descriptor or kUnwatched.
int watch(const std::string& path, MappedFontFile* file);
void unwatch(int descriptor, MappedFontFile* file);
// Marks every file with events since the last call as touched (MappedFontFile::touch).
void collectEvents();
// Whether files mapped from now on are watched (on unless turned off). Off, they take the path of
// files that cannot be watched; tests cover both.
void setWatching(bool on);

}  // namespace font_file_watch
}  // namespace kfp::linux_backend
