#include "host/replies.h"

#include <algorithm>

#include "host/messages.h"
#include "host/reply_encoding.h"
#include "protocol/frame.h"

namespace kfp {

bool writeErrorReply(ByteWriter& out, uint8_t type, std::string_view code) {
  constexpr std::string_view kHead = "{\"error\":\"", kTail = "\"}";
  char text[64];
  if (kHead.size() + code.size() + kTail.size() > sizeof text) {
    return writeFrame(out, type, errorJson(code));
  }
  char* end = std::copy(kHead.begin(), kHead.end(), text);
  end = std::copy(code.begin(), code.end(), end);
  end = std::copy(kTail.begin(), kTail.end(), end);
  return writeFrame(out, type, std::string_view(text, size_t(end - text)));
}

std::string helloAckJson() {
  std::string out = "{\"protocolVersion\":";
  appendUnsigned(out, kProtocolVersion);
  out += ",\"rendererVersion\":";
  appendQuotedJson(out, kRendererVersion);
  out += ",\"pixelFormat\":\"A8\"}";
  return out;
}

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
