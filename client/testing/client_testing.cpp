#include "testing/client_testing.h"

#include "protocol/message_types.h"
#include "requests.h"

namespace kfp::client::testing {

Status TestAccess::hello(Client& client, double protocolVersion) {
  return client.send(kHello, helloJson(protocolVersion));
}

Status TestAccess::sendRaw(Client& client, uint8_t type, std::string_view json,
                           const std::vector<uint8_t>& payload) {
  return client.send(type, json, payload);
}

bool TestAccess::sendBytes(Client& client, std::string_view bytes) {
  return client.process_->writeBytes(bytes.data(), bytes.size());
}

std::vector<int> TestAccess::rendererPids(const PreviewService& service) {
  return service.rendererPids();
}

}  // namespace kfp::client::testing
