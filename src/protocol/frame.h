#pragma once
// The frame: u32 LE length (5..64 MiB), u8 type, u32 LE JSON length (<= 8 MiB), UTF-8 JSON text,
// payload. The same layout and limits in both directions.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/byte_stream.h"

namespace kfp {

constexpr uint32_t kMinFrameLength = 5;
constexpr uint32_t kMaxFrameLength = 0x4000000;  // 64 MiB
constexpr uint32_t kMaxJsonLength = 0x800000;    // 8 MiB
constexpr size_t kFrameHeaderSize = 9;

// Frame lengths are little-endian on the wire.
inline uint32_t loadLe32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

struct Frame {
  uint8_t type = 0;
  std::string json;
  std::vector<uint8_t> payload;
};

// False at the end of input, on a read failure, a frame outside the limits, or when the frame's
// buffer cannot be allocated; the stream position is then undefined.
bool readFrame(ByteReader& in, Frame& frame);

// For a reader that buffers a stream itself: the size of the frame at the start of `bytes` once all
// of it is there, 0 while more bytes are needed, -1 when its header breaks the limits.
ptrdiff_t bufferedFrameSize(const uint8_t* bytes, size_t size);

// Writes `count` bytes, repeating partial writes.
bool writeAll(ByteWriter& out, const void* bytes, size_t count);

// Writes one whole frame; nothing at all when it would exceed the limits.
bool writeFrame(ByteWriter& out, uint8_t type, std::string_view json,
                const uint8_t* payload = nullptr, size_t payloadSize = 0);

}  // namespace kfp
