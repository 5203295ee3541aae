#pragma once
// Reply texts that carry a value.

#include <cstdint>
#include <string>
#include <string_view>

namespace kfp {

class ByteWriter;

// Writes an Error or FatalError frame {"error":"CODE"} without allocating, so that it can answer
// an allocation failure too. Codes are short upper-case ASCII.
bool writeErrorReply(ByteWriter& out, uint8_t type, std::string_view code);

// {"protocolVersion":1,"rendererVersion":"2","pixelFormat":"A8"}, from the version constants.
std::string helloAckJson();
std::string fontsRegisteredJson(uint64_t fontCount);
std::string fontChunkAckJson(uint64_t receivedCount);

}  // namespace kfp
