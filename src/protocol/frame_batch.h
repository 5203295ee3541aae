#pragma once
// Frames that leave together. A Render answers with one frame per font, and a pipe write per
// frame costs a system call and a wake-up of the reader, more than drawing a short line. Pending
// frames keep their own storage, so a flush is one gathered write without copying them again.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocol/frame.h"

namespace kfp {

class FrameBatch {
 public:
  // Pending frames leave once they hold `flushBytes` bytes or `flushFrames` frames, or once the
  // oldest of them has waited `maxDelay`.
  FrameBatch(ByteWriter& out, size_t flushBytes, size_t flushFrames,
             std::chrono::microseconds maxDelay);

  // The frame to fill next; its buffers keep the capacity of an earlier frame.
  Frame& next();
  // Queues the frame filled through next(). False when it breaks the frame limits (nothing is
  // queued) or when a flush this caused failed.
  bool push();
  // Writes every pending frame; false when the stream fails.
  bool flush();
  size_t pendingFrames() const { return pending_; }
  // Frees the frames' buffers when they hold more than `bytes`: one huge Render should not pin its
  // memory for the life of the process. Only between flushes.
  void releaseBuffersAbove(size_t bytes);

 private:
  struct Slot {
    uint8_t header[kFrameHeaderSize];
    Frame frame;
  };

  ByteWriter& out_;
  const size_t flushBytes_;
  const size_t flushFrames_;
  const std::chrono::microseconds maxDelay_;
  std::vector<Slot> slots_;
  std::vector<ByteSpan> parts_;  // of the frames being flushed; kept for its capacity
  size_t pending_ = 0;
  size_t pendingBytes_ = 0;
  std::chrono::steady_clock::time_point firstPending_;
};

}  // namespace kfp
