#include "outcome.h"

#include <ostream>

namespace kfp::client {

const char* errorKindName(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::kCancelled:
      return "cancelled";
    case ErrorKind::kRendererError:
      return "renderer error";
    case ErrorKind::kStartFailed:
      return "start failed";
    case ErrorKind::kTimeout:
      return "timeout";
    case ErrorKind::kProtocol:
      return "protocol error";
    case ErrorKind::kInvalidRequest:
      return "invalid request";
    case ErrorKind::kInternal:
      return "internal error";
  }
  return "?";
}

std::string Error::describe() const {
  std::string out = std::string(errorKindName(kind_)) + " " + code_;
  if (!message_.empty()) out += ": " + message_;
  return out;
}

std::ostream& operator<<(std::ostream& out, const Error& error) {
  return out << error.describe();
}

}  // namespace kfp::client
