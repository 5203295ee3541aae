#include "kfp_client.h"

#include <algorithm>

#include "protocol/frame.h"
#include "protocol/message_types.h"

namespace kfp::client {
namespace {

Error unexpected(const Frame& frame) {
  if (auto code = decodeErrorCode(frame)) return Error(ErrorKind::kRendererError, *code);
  return Error(ErrorKind::kProtocol, codes::kUnexpectedReply, describeFrame(frame));
}

Error undecodable(const Frame& frame) {
  return Error(ErrorKind::kProtocol, codes::kMalformedReply, describeFrame(frame));
}

}  // namespace

Error readFailure(ReadStatus status) {
  switch (status) {
    case ReadStatus::kTimeout:
      return Error(ErrorKind::kTimeout, codes::kReplyTimeout);
    case ReadStatus::kMalformed:
      return Error(ErrorKind::kProtocol, codes::kMalformedReply, readStatusName(status));
    case ReadStatus::kFrame:
      return Error(ErrorKind::kInternal, codes::kInternal, "a frame read as a failure");
    case ReadStatus::kEndOfStream:
    case ReadStatus::kTruncated:
    case ReadStatus::kClosed:
      break;
  }
  return Error(ErrorKind::kProtocol, codes::kStreamEnded, readStatusName(status));
}

Outcome<std::unique_ptr<Client>> Client::start(const ClientOptions& options) {
  auto process = RendererProcess::spawn(options.rendererPath, options.extraArgs);
  if (!process) return process.error();
  return std::unique_ptr<Client>(new Client(std::move(process).value(), options.replyTimeout));
}

Status Client::hello() {
  return send(kHello, helloJson(kProtocolVersion));
}

Status Client::registerFonts(const std::vector<FontDescriptor>& fonts) {
  return send(kRegisterFonts, fontListJson(fonts));
}

Status Client::beginFonts(double fontCount) {
  return send(kBeginFonts, beginFontsJson(fontCount));
}

Status Client::fontChunk(const std::vector<FontDescriptor>& fonts) {
  return send(kFontChunk, fontListJson(fonts));
}

Status Client::commitFonts() {
  return send(kCommitFonts, "{}");
}

Status Client::measure(const LayoutRequest& request) {
  return send(kMeasure, layoutRequestJson(request));
}

Status Client::render(const LayoutRequest& request) {
  return send(kRender, layoutRequestJson(request));
}

Status Client::setGeneration(uint64_t generation) {
  return send(kSetGeneration, setGenerationJson(generation));
}

Status Client::ping() {
  return send(kPing, "{}");
}

Status Client::shutdown() {
  return send(kShutdown, "{}");
}

Status Client::clearCache() {
  return send(kClearCache, "{}");
}

Status Client::send(uint8_t type, std::string_view json, const std::vector<uint8_t>& payload) {
  // Checked here rather than left to the frame writer, whose refusal looks like a broken pipe:
  // a request too large to send is the host's to fix, and no renderer is at fault.
  if (json.size() > kMaxJsonLength ||
      kFrameHeaderSize - 4 + json.size() + payload.size() > kMaxFrameLength) {
    return Error(ErrorKind::kInvalidRequest, codes::kRequestTooLarge,
                 "a frame of " + std::to_string(json.size()) + " bytes of JSON text and " +
                     std::to_string(payload.size()) + " of payload");
  }
  if (!process_->writeFrame(type, json, payload)) {
    return Error(ErrorKind::kProtocol, codes::kWriteFailed);
  }
  return {};
}

ReadStatus Client::receive(Frame& frame) {
  return process_->readFrame(frame, replyTimeout_);
}

ReadStatus Client::receive(Frame& frame, Milliseconds timeout) {
  return process_->readFrame(frame, timeout);
}

Outcome<Frame> Client::expectFrame(uint8_t type) {
  Frame frame;
  const ReadStatus status = receive(frame);
  if (status != ReadStatus::kFrame) return readFailure(status);
  if (frame.type == type) return frame;
  return unexpected(frame);
}

Outcome<uint64_t> Client::registerFontsAndWait(const std::vector<FontDescriptor>& fonts) {
  if (auto sent = registerFonts(fonts); !sent) return sent.error();
  auto reply = expectFrame(kFontsRegistered);
  if (!reply) return reply.error();
  if (auto count = decodeFontCount(*reply)) return *count;
  return undecodable(*reply);
}

Outcome<uint64_t> Client::registerFontsChunkedAndWait(const std::vector<FontDescriptor>& fonts,
                                                      size_t chunkSize) {
  if (chunkSize == 0) chunkSize = 1;
  if (auto sent = beginFonts(static_cast<double>(fonts.size())); !sent) return sent.error();
  if (auto ack = expectFrame(kBeginFontsAck); !ack) return ack.error();
  for (size_t start = 0; start < fonts.size(); start += chunkSize) {
    const size_t end = std::min(fonts.size(), start + chunkSize);
    std::vector<FontDescriptor> chunk(fonts.begin() + static_cast<ptrdiff_t>(start),
                                      fonts.begin() + static_cast<ptrdiff_t>(end));
    if (auto sent = fontChunk(chunk); !sent) return sent.error();
    auto ack = expectFrame(kFontChunkAck);
    if (!ack) return ack.error();
    auto received = decodeReceivedCount(*ack);
    if (!received) return undecodable(*ack);
    if (*received != end) return unexpected(*ack);
  }
  if (auto sent = commitFonts(); !sent) return sent.error();
  auto reply = expectFrame(kFontsRegistered);
  if (!reply) return reply.error();
  if (auto count = decodeFontCount(*reply)) return *count;
  return undecodable(*reply);
}

Outcome<MeasureResult> Client::measureAndWait(const LayoutRequest& request) {
  if (auto sent = measure(request); !sent) return sent.error();
  auto reply = expectFrame(kMeasureResult);
  if (!reply) return reply.error();
  if (auto result = decodeMeasureResult(*reply)) return std::move(*result);
  return undecodable(*reply);
}

Outcome<std::vector<RenderResult>> Client::renderAndWait(const LayoutRequest& request) {
  if (auto sent = render(request); !sent) return sent.error();
  std::vector<RenderResult> results;
  for (size_t i = 0; i < request.fontIds.size(); ++i) {
    auto reply = expectFrame(kRenderResult);
    if (!reply) return reply.error();
    // A frame that does not decode is left untouched, so it can still be described.
    auto result = decodeRenderResult(std::move(*reply));
    if (!result) return undecodable(*reply);
    results.push_back(std::move(*result));
  }
  return results;
}

ProcessExit Client::stop(Milliseconds timeout) {
  (void)shutdown();
  process_->closeInput();
  ProcessExit exit = process_->waitForExit(timeout);
  if (exit.kind == ProcessExit::Kind::kRunning) exit = process_->kill();
  return exit;
}

}  // namespace kfp::client
