#include "renderer_process.h"

// What the POSIX and the Windows process code share: the frame reader over the output buffer and
// the frame writer over the input, on top of each platform's reads and writes.

#include <algorithm>

#include "protocol/frame.h"

namespace kfp::client {

using Clock = std::chrono::steady_clock;

// The frame writer over the child's stdin, with one deadline for the whole frame.
class ProcessInputWriter : public ByteWriter {
 public:
  ProcessInputWriter(RendererProcess& process, Clock::time_point deadline)
      : process_(process), deadline_(deadline) {}
  ptrdiff_t write(const void* buffer, size_t count) override {
    return process_.writeSome(&buffer, &count, 1, deadline_);
  }
  ptrdiff_t writeGather(const ByteSpan* parts, int count) override {
    const void* data[3];
    size_t sizes[3];
    const int n = count < 3 ? count : 3;
    for (int i = 0; i < n; ++i) data[i] = parts[i].data, sizes[i] = parts[i].size;
    return process_.writeSome(data, sizes, n, deadline_);
  }

 private:
  RendererProcess& process_;
  Clock::time_point deadline_;
};

const char* readStatusName(ReadStatus status) {
  switch (status) {
    case ReadStatus::kFrame:
      return "frame";
    case ReadStatus::kEndOfStream:
      return "end of stream";
    case ReadStatus::kTruncated:
      return "stream ended inside a frame";
    case ReadStatus::kMalformed:
      return "malformed frame";
    case ReadStatus::kTimeout:
      return "timeout";
    case ReadStatus::kClosed:
      return "output closed by the host";
  }
  return "?";
}

bool RendererProcess::writeBytes(const void* bytes, size_t count, Milliseconds timeout) {
  ProcessInputWriter out(*this, Clock::now() + timeout);
  return writeAll(out, bytes, count);
}

bool RendererProcess::writeFrame(uint8_t type, std::string_view json,
                                 const std::vector<uint8_t>& payload, Milliseconds timeout) {
  // The renderer ends its session on a frame beyond the limits; the codec refuses to write one.
  ProcessInputWriter out(*this, Clock::now() + timeout);
  return kfp::writeFrame(out, type, json, payload.data(), payload.size());
}

ReadStatus RendererProcess::readFrame(Frame& frame, Milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    const size_t available = output_.size() - outputStart_;
    const uint8_t* p = output_.data() + outputStart_;
    const ptrdiff_t size = bufferedFrameSize(p, available);
    if (size < 0) return ReadStatus::kMalformed;
    if (size > 0) {
      // Assigned, not swapped in: a frame reused across reads keeps its storage.
      const size_t jsonLength = loadLe32(p + 5);
      frame.type = p[4];
      frame.json.assign(reinterpret_cast<const char*>(p) + kFrameHeaderSize, jsonLength);
      frame.payload.assign(p + kFrameHeaderSize + jsonLength, p + size);
      outputStart_ += size_t(size);
      return ReadStatus::kFrame;
    }
    if (outputEnded_) return available == 0 ? ReadStatus::kEndOfStream : ReadStatus::kTruncated;
    if (!outputOpen()) return ReadStatus::kClosed;
    const size_t wanted = available >= 4 ? size_t{loadLe32(p)} + 4 - available : 0;
    if (!fillOutput(deadline, wanted)) return ReadStatus::kTimeout;
    heldOutputHighWater_ = std::max(heldOutputHighWater_, output_.size() - outputStart_);
  }
}

bool RendererProcess::readOutputToEnd(std::string& out, Milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!outputEnded_ && outputOpen()) {
    if (!fillOutput(deadline, 0)) return false;
  }
  out.assign(output_.begin() + static_cast<ptrdiff_t>(outputStart_), output_.end());
  outputStart_ = output_.size();
  return outputOpen() || outputEnded_;
}

}  // namespace kfp::client
