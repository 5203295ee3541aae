#pragma once
// The host side of the renderer protocol: start a renderer, send typed requests, read replies.
//
// The send functions only write; replies are read with receive() or the *AndWait calls, which
// wait at most the client's reply timeout. A host drives one renderer from one thread.
//
// Failures are Errors (outcome.h): a send fails with WRITE_FAILED when the renderer stopped
// reading, or REQUEST_TOO_LARGE, without writing anything, when the request does not fit in a
// frame. The *AndWait calls add the renderer's Error codes, REPLY_TIMEOUT, STREAM_ENDED,
// MALFORMED_REPLY and UNEXPECTED_REPLY. receive() hands out the process layer's ReadStatus.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "client_frame.h"
#include "outcome.h"
#include "renderer_process.h"
#include "replies.h"
#include "requests.h"

namespace kfp::client {

struct ClientOptions {
  std::string rendererPath;
  std::vector<std::string> extraArgs;
  Milliseconds replyTimeout{10000};
};

// The Error for a read that brought no frame.
Error readFailure(ReadStatus status);

class Client {
 public:
  // Fails with RENDERER_START_FAILED when the renderer cannot be started.
  static Outcome<std::unique_ptr<Client>> start(const ClientOptions& options);

  Status hello();
  Status registerFonts(const std::vector<FontDescriptor>& fonts);
  Status beginFonts(double fontCount);
  Status fontChunk(const std::vector<FontDescriptor>& fonts);
  Status commitFonts();
  Status measure(const LayoutRequest& request);
  Status render(const LayoutRequest& request);
  Status setGeneration(uint64_t generation);
  Status ping();
  Status shutdown();
  Status clearCache();

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

  // The renderer's process: its id, its end, and what it wrote to stderr.
  int pid() const { return process_->pid(); }
  ProcessExit waitForExit(Milliseconds timeout) { return process_->waitForExit(timeout); }
  ProcessExit kill() { return process_->kill(); }
  const std::string& stderrText() { return process_->stderrText(); }

 private:
  friend class testing::TestAccess;
  explicit Client(std::unique_ptr<RendererProcess> process, Milliseconds replyTimeout)
      : process_(std::move(process)), replyTimeout_(replyTimeout) {}

  // One frame, or REQUEST_TOO_LARGE when it would break the frame limits.
  Status send(uint8_t type, std::string_view json, const std::vector<uint8_t>& payload = {});
  // The next frame if it has `type`; otherwise an Error naming what came instead.
  Outcome<Frame> expectFrame(uint8_t type);

  std::unique_ptr<RendererProcess> process_;
  Milliseconds replyTimeout_;
};

}  // namespace kfp::client
