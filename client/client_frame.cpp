#include "client_frame.h"

namespace kfp::client {

std::string describeFrame(const Frame& frame) {
  std::string out = "frame type " + std::to_string(frame.type) + " " + frame.json;
  if (!frame.payload.empty()) out += " +" + std::to_string(frame.payload.size()) + " bytes";
  return out;
}

}  // namespace kfp::client
