#include "protocol/replies.h"

#include "protocol/reply_encoding.h"

namespace kfp {

std::string fontsRegisteredJson(uint64_t fontCount) {
  std::string out = "{\"fontCount\":";
  appendUnsigned(out, fontCount);
  out.push_back('}');
  return out;
}

std::string fontChunkAckJson(uint64_t receivedCount) {
  std::string out = "{\"receivedCount\":";
  appendUnsigned(out, receivedCount);
  out.push_back('}');
  return out;
}

}  // namespace kfp
