#pragma once
// A progress bar on standard error for long runs, drawn only when standard error is a terminal so
// that logs and pipes get none of it.

#include <chrono>
#include <cstddef>

namespace kfp::preview {

class ProgressBar {
 public:
  ProgressBar(size_t total, bool enabled) : total_(total), enabled_(enabled && total > 0) {}

  // One more step done; redraws at most every 100 ms.
  void advance();
  // Draws the full bar and ends its line.
  void finish();

 private:
  void draw();

  size_t total_;
  size_t done_ = 0;
  bool enabled_;
  std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace kfp::preview
