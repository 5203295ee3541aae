#pragma once
// Reply texts that carry a value.

#include <cstdint>
#include <string>

namespace kfp {

std::string fontsRegisteredJson(uint64_t fontCount);
std::string fontChunkAckJson(uint64_t receivedCount);

}  // namespace kfp
