#pragma once
// The host side of the renderer protocol: start a renderer, send typed requests, read replies.
//
// The send functions only write; replies are read with receive() or the *AndWait calls, which
// wait at most the client's reply timeout. A host drives one renderer from one thread.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "client_frame.h"
#include "renderer_process.h"
#include "replies.h"
#include "requests.h"

namespace kfp::client {

struct ClientOptions {
  std::string rendererPath;
  std::vector<std::string> extraArgs;
  Milliseconds replyTimeout{10000};
};

// A reply that was expected but did not come: an Error frame's code, or a description of what
// came instead (another frame type, a timeout, the end of the stream).
struct Failure {
  std::string what;
};

template <typename T>
struct Outcome {
  std::optional<T> value;
  Failure failure;
  explicit operator bool() const { return value.has_value(); }
};

class Client {
 public:
  // Null with `error` set when the renderer cannot be started.
  static std::unique_ptr<Client> start(const ClientOptions& options, std::string* error = nullptr);

  RendererProcess& process() { return *process_; }

  // Hello with this client's protocol version, or with any other (to test a renderer's refusal).
  bool hello();
  bool hello(double protocolVersion);
  bool registerFonts(const std::vector<FontDescriptor>& fonts);
  bool beginFonts(double fontCount);
  bool fontChunk(const std::vector<FontDescriptor>& fonts);
  bool commitFonts();
  bool measure(const LayoutRequest& request);
  bool render(const LayoutRequest& request);
  bool setGeneration(uint64_t generation);
  bool ping();
  bool shutdown();
  bool clearCache();
  bool sendRaw(uint8_t type, std::string_view json, const std::vector<uint8_t>& payload = {});
  bool sendBytes(std::string_view bytes);

  ReadStatus receive(Frame& frame);
  ReadStatus receive(Frame& frame, Milliseconds timeout);

  // Request and reply in one call, for hosts that do one thing at a time.
  Outcome<uint64_t> registerFontsAndWait(const std::vector<FontDescriptor>& fonts);
  // BeginFonts, chunks of at most `chunkSize`, CommitFonts; the active set's size on success.
  Outcome<uint64_t> registerFontsChunkedAndWait(const std::vector<FontDescriptor>& fonts,
                                                size_t chunkSize = 250);
  Outcome<MeasureResult> measureAndWait(const LayoutRequest& request);
  // One result per font id, in request order.
  Outcome<std::vector<RenderResult>> renderAndWait(const LayoutRequest& request);

  // Shutdown, then the exit status; the renderer is killed if it has not ended by the timeout.
  ProcessExit stop(Milliseconds timeout = Milliseconds(5000));

 private:
  explicit Client(std::unique_ptr<RendererProcess> process, Milliseconds replyTimeout)
      : process_(std::move(process)), replyTimeout_(replyTimeout) {}

  // The next frame if it has `type`; otherwise a Failure naming what came instead.
  Outcome<Frame> expectFrame(uint8_t type);

  std::unique_ptr<RendererProcess> process_;
  Milliseconds replyTimeout_;
};

}  // namespace kfp::client
