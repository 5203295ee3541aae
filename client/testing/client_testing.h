#pragma once
// Test-only reach into the host library, in its own library (kfp_client_testing) that no product
// links: frames a well-behaved host never sends, the process under a client, and the pool's
// process ids.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "kfp_client.h"
#include "preview_service.h"
#include "renderer_process.h"

namespace kfp::client::testing {

class TestAccess {
 public:
  static RendererProcess& process(Client& client) { return *client.process_; }
  // Hello with any protocol version, to test a renderer's refusal.
  static Status hello(Client& client, double protocolVersion);
  // Any frame type with any JSON text; the frame limits are still checked.
  static Status sendRaw(Client& client, uint8_t type, std::string_view json,
                        const std::vector<uint8_t>& payload = {});
  // Bytes as they are, for broken frames.
  static bool sendBytes(Client& client, std::string_view bytes);

  static void closeOutput(RendererProcess& process) { process.closeOutput(); }
  static bool readOutputToEnd(RendererProcess& process, std::string& out, Milliseconds timeout) {
    return process.readOutputToEnd(out, timeout);
  }
  // The most bytes of the child's stdout the host held unread at once.
  static size_t outputHighWater(RendererProcess& process) { return process.outputHighWater(); }

  // The process ids of the service's renderers, 0 for a slot not started.
  static std::vector<int> rendererPids(const PreviewService& service);
};

}  // namespace kfp::client::testing
