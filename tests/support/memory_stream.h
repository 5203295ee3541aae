#pragma once
// In-memory byte streams for frame tests: the reader hands out at most `chunk` bytes per read,
// the writer can be told to fail after a number of bytes.

#include <algorithm>
#include <cstring>
#include <string>

#include "protocol/byte_stream.h"

namespace kfp::testing {

class MemoryReader : public ByteReader {
 public:
  explicit MemoryReader(std::string data, size_t chunk = SIZE_MAX)
      : data_(std::move(data)), chunk_(chunk) {}
  ptrdiff_t read(void* buffer, size_t count) override {
    const size_t n = std::min({count, chunk_, data_.size() - pos_});
    std::memcpy(buffer, data_.data() + pos_, n);
    pos_ += n;
    return static_cast<ptrdiff_t>(n);
  }
  size_t position() const { return pos_; }

 private:
  std::string data_;
  size_t chunk_;
  size_t pos_ = 0;
};

class MemoryWriter : public ByteWriter {
 public:
  explicit MemoryWriter(size_t failAfter = SIZE_MAX) : failAfter_(failAfter) {}
  ptrdiff_t write(const void* buffer, size_t count) override {
    if (data.size() >= failAfter_) return -1;
    const size_t n = std::min(count, failAfter_ - data.size());
    data.append(static_cast<const char*>(buffer), n);
    ++writes;
    return static_cast<ptrdiff_t>(n);
  }
  std::string data;
  int writes = 0;

 private:
  size_t failAfter_;
};

// The bytes of one frame with the given header fields (length computed unless given).
inline std::string frameBytes(uint8_t type, std::string_view json, std::string_view payload = {},
                              int64_t length = -1, int64_t jsonLength = -1) {
  const uint32_t len = length < 0 ? uint32_t(5 + json.size() + payload.size()) : uint32_t(length);
  const uint32_t jlen = jsonLength < 0 ? uint32_t(json.size()) : uint32_t(jsonLength);
  std::string out;
  for (int i = 0; i < 4; ++i) out.push_back(char(len >> (8 * i)));
  out.push_back(char(type));
  for (int i = 0; i < 4; ++i) out.push_back(char(jlen >> (8 * i)));
  out += json;
  out += payload;
  return out;
}

}  // namespace kfp::testing
