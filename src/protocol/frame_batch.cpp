#include "protocol/frame_batch.h"

namespace kfp {

FrameBatch::FrameBatch(ByteWriter& out, size_t flushBytes, size_t flushFrames,
                       std::chrono::microseconds maxDelay)
    : out_(out),
      flushBytes_(flushBytes),
      flushFrames_(flushFrames ? flushFrames : 1),
      maxDelay_(maxDelay) {}

Frame& FrameBatch::next() {
  if (slots_.size() <= pending_) slots_.resize(pending_ + 1);
  return slots_[pending_].frame;
}

bool FrameBatch::push() {
  Slot& slot = slots_[pending_];
  if (!encodeFrameHeader(slot.frame.type, slot.frame.json.size(), slot.frame.payload.size(),
                         slot.header)) {
    return false;
  }
  const auto now = std::chrono::steady_clock::now();
  if (pending_++ == 0) firstPending_ = now;
  pendingBytes_ += kFrameHeaderSize + slot.frame.json.size() + slot.frame.payload.size();
  if (pendingBytes_ >= flushBytes_ || pending_ >= flushFrames_ ||
      now - firstPending_ >= maxDelay_) {
    return flush();
  }
  return true;
}

bool FrameBatch::flush() {
  if (pending_ == 0) return true;
  parts_.clear();
  for (size_t i = 0; i < pending_; ++i) {
    const Slot& slot = slots_[i];
    parts_.push_back({slot.header, sizeof slot.header});
    parts_.push_back({slot.frame.json.data(), slot.frame.json.size()});
    parts_.push_back({slot.frame.payload.data(), slot.frame.payload.size()});
  }
  pending_ = 0;
  pendingBytes_ = 0;
  return writeAllParts(out_, parts_.data(), parts_.size());
}

void FrameBatch::releaseBuffersAbove(size_t bytes) {
  size_t held = 0;
  for (const Slot& slot : slots_)
    held += slot.frame.json.capacity() + slot.frame.payload.capacity();
  if (held > bytes) std::vector<Slot>().swap(slots_);
}

}  // namespace kfp
