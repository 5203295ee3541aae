#pragma once
// One frame as the host sees it: the message type, the JSON text and the binary payload.

#include <cstdint>
#include <string>
#include <vector>

namespace kfp::client {

struct Frame {
  uint8_t type = 0;
  std::string json;
  std::vector<uint8_t> payload;
};

// The type, the JSON text and the payload size, for failure messages.
std::string describeFrame(const Frame& frame);

}  // namespace kfp::client
