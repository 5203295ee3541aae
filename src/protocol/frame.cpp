#include "protocol/frame.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace kfp {
namespace {

bool readExactly(ByteReader& in, uint8_t* buffer, size_t count) {
  while (count > 0) {
    ptrdiff_t n = in.read(buffer, count);
    if (n <= 0) return false;
    buffer += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

// Reads `count` bytes into `buffer`, growing it as the bytes arrive: a header that announces more
// than the stream delivers costs only what was delivered, not a 64 MiB allocation up front.
template <typename Buffer>
bool readGrowing(ByteReader& in, Buffer& buffer, size_t count) {
  constexpr size_t kFirstStep = 1 << 16;
  buffer.clear();
  size_t done = 0;
  while (done < count) {
    const size_t target = std::min(count, std::max(kFirstStep, done * 2));
    buffer.resize(target);
    if (!readExactly(in, reinterpret_cast<uint8_t*>(buffer.data()) + done, target - done)) {
      return false;
    }
    done = target;
  }
  return true;
}

// Consumes `count` bytes without keeping them.
void discard(ByteReader& in, size_t count) {
  uint8_t chunk[65536];
  while (count > 0) {
    size_t step = count < sizeof chunk ? count : sizeof chunk;
    if (!readExactly(in, chunk, step)) return;
    count -= step;
  }
}

void storeLe32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

}  // namespace

bool readFrame(ByteReader& in, Frame& frame) {
  uint8_t lengthBytes[4];
  if (!readExactly(in, lengthBytes, sizeof lengthBytes)) return false;
  const uint32_t length = loadLe32(lengthBytes);
  // Unsigned wrap-around makes one test reject both 0..4 and everything above 64 MiB.
  if (length - kMinFrameLength > kMaxFrameLength - kMinFrameLength) return false;

  uint8_t header[5];
  if (!readExactly(in, header, sizeof header)) return false;
  const uint32_t jsonLength = loadLe32(header + 1);
  const uint64_t payloadStart = uint64_t(jsonLength) + 5;
  const bool jsonFits = jsonLength <= kMaxJsonLength && payloadStart <= length;
  const size_t rest = length - 5;
  try {
    // Read the body even when the JSON length is invalid: the whole frame is consumed either way.
    if (jsonFits) {
      if (!readGrowing(in, frame.json, jsonLength)) return false;
      if (!readGrowing(in, frame.payload, length - payloadStart)) return false;
    } else {
      discard(in, rest);
      return false;
    }
  } catch (const std::bad_alloc&) {
    // A frame may announce 64 MiB; without memory for it the loop ends cleanly.
    return false;
  }
  frame.type = header[0];
  return true;
}

ptrdiff_t bufferedFrameSize(const uint8_t* bytes, size_t size) {
  if (size < 4) return 0;
  const uint32_t length = loadLe32(bytes);
  if (length - kMinFrameLength > kMaxFrameLength - kMinFrameLength) return -1;
  if (size < kFrameHeaderSize) return 0;
  const uint32_t jsonLength = loadLe32(bytes + 5);
  if (jsonLength > kMaxJsonLength || uint64_t(jsonLength) + 5 > length) return -1;
  if (size - 4 < length) return 0;
  return ptrdiff_t(length) + 4;
}

bool writeAll(ByteWriter& out, const void* bytes, size_t count) {
  auto* p = static_cast<const uint8_t*>(bytes);
  while (count > 0) {
    ptrdiff_t n = out.write(p, count);
    if (n <= 0) return false;
    p += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

bool writeFrame(ByteWriter& out, uint8_t type, std::string_view json, const uint8_t* payload,
                size_t payloadSize) {
  if (json.size() > kMaxJsonLength) return false;
  if (5 + json.size() + payloadSize > kMaxFrameLength) return false;
  uint8_t header[kFrameHeaderSize];
  storeLe32(header, static_cast<uint32_t>(5 + json.size() + payloadSize));
  header[4] = type;
  storeLe32(header + 5, static_cast<uint32_t>(json.size()));
  // Header, JSON and payload leave in as few writes as the stream takes; the host reads the same
  // bytes either way, and a failed write still leaves what was written on the stream.
  ByteSpan parts[3] = {{header, sizeof header}, {json.data(), json.size()}, {payload, payloadSize}};
  int first = 0;
  while (first < 3) {
    ptrdiff_t n = out.writeGather(parts + first, 3 - first);
    if (n <= 0) return false;
    for (; first < 3 && size_t(n) >= parts[first].size; ++first) n -= ptrdiff_t(parts[first].size);
    if (first < 3) {
      parts[first].data = static_cast<const uint8_t*>(parts[first].data) + n;
      parts[first].size -= size_t(n);
    }
  }
  return true;
}

}  // namespace kfp
