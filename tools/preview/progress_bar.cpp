#include "progress_bar.h"

#include <cstdio>
#include <string>

namespace kfp::preview {

void ProgressBar::advance() {
  ++done_;
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - lastDraw_ < std::chrono::milliseconds(100) && done_ < total_) return;
  lastDraw_ = now;
  draw();
}

void ProgressBar::finish() {
  if (!enabled_) return;
  done_ = total_;
  draw();
  std::fputc('\n', stderr);
}

void ProgressBar::draw() {
  constexpr size_t kWidth = 40;
  const size_t filled = done_ >= total_ ? kWidth : done_ * kWidth / total_;
  const std::string bar = std::string(filled, '#') + std::string(kWidth - filled, '-');
  std::fprintf(stderr, "\r[%s] %zu/%zu", bar.c_str(), done_ < total_ ? done_ : total_, total_);
  std::fflush(stderr);
}

}  // namespace kfp::preview
