#include "kfp_client.h"

#include <algorithm>

#include "protocol/message_types.h"

namespace kfp::client {
namespace {

template <typename T>
Outcome<T> failed(std::string what) {
  return Outcome<T>{std::nullopt, Failure{std::move(what)}};
}

}  // namespace

std::unique_ptr<Client> Client::start(const ClientOptions& options, std::string* error) {
  auto process = RendererProcess::spawn(options.rendererPath, options.extraArgs, error);
  if (!process) return nullptr;
  return std::unique_ptr<Client>(new Client(std::move(process), options.replyTimeout));
}

bool Client::hello() {
  return hello(kProtocolVersion);
}

bool Client::hello(double protocolVersion) {
  return sendRaw(kHello, helloJson(protocolVersion));
}

bool Client::registerFonts(const std::vector<FontDescriptor>& fonts) {
  return sendRaw(kRegisterFonts, fontListJson(fonts));
}

bool Client::beginFonts(double fontCount) {
  return sendRaw(kBeginFonts, beginFontsJson(fontCount));
}

bool Client::fontChunk(const std::vector<FontDescriptor>& fonts) {
  return sendRaw(kFontChunk, fontListJson(fonts));
}

bool Client::commitFonts() {
  return sendRaw(kCommitFonts, "{}");
}

bool Client::measure(const LayoutRequest& request) {
  return sendRaw(kMeasure, layoutRequestJson(request));
}

bool Client::render(const LayoutRequest& request) {
  return sendRaw(kRender, layoutRequestJson(request));
}

bool Client::setGeneration(uint64_t generation) {
  return sendRaw(kSetGeneration, setGenerationJson(generation));
}

bool Client::ping() {
  return sendRaw(kPing, "{}");
}

bool Client::shutdown() {
  return sendRaw(kShutdown, "{}");
}

bool Client::clearCache() {
  return sendRaw(kClearCache, "{}");
}

bool Client::sendRaw(uint8_t type, std::string_view json, const std::vector<uint8_t>& payload) {
  return process_->writeFrame(type, json, payload);
}

bool Client::sendBytes(std::string_view bytes) {
  return process_->writeBytes(bytes.data(), bytes.size());
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
  if (status != ReadStatus::kFrame) return failed<Frame>(readStatusName(status));
  if (frame.type == type) return Outcome<Frame>{std::move(frame), {}};
  if (auto code = decodeErrorCode(frame)) return failed<Frame>(*code);
  return failed<Frame>("unexpected " + describeFrame(frame));
}

Outcome<uint64_t> Client::registerFontsAndWait(const std::vector<FontDescriptor>& fonts) {
  if (!registerFonts(fonts)) return failed<uint64_t>("write failed");
  auto reply = expectFrame(kFontsRegistered);
  if (!reply) return failed<uint64_t>(reply.failure.what);
  if (auto count = decodeFontCount(*reply.value)) return Outcome<uint64_t>{*count, {}};
  return failed<uint64_t>("undecodable " + describeFrame(*reply.value));
}

Outcome<uint64_t> Client::registerFontsChunkedAndWait(const std::vector<FontDescriptor>& fonts,
                                                      size_t chunkSize) {
  if (chunkSize == 0) chunkSize = 1;
  if (!beginFonts(static_cast<double>(fonts.size()))) return failed<uint64_t>("write failed");
  if (auto ack = expectFrame(kBeginFontsAck); !ack) return failed<uint64_t>(ack.failure.what);
  for (size_t start = 0; start < fonts.size(); start += chunkSize) {
    const size_t end = std::min(fonts.size(), start + chunkSize);
    std::vector<FontDescriptor> chunk(fonts.begin() + static_cast<ptrdiff_t>(start),
                                      fonts.begin() + static_cast<ptrdiff_t>(end));
    if (!fontChunk(chunk)) return failed<uint64_t>("write failed");
    auto ack = expectFrame(kFontChunkAck);
    if (!ack) return failed<uint64_t>(ack.failure.what);
    if (decodeReceivedCount(*ack.value) != end) {
      return failed<uint64_t>("unexpected " + describeFrame(*ack.value));
    }
  }
  if (!commitFonts()) return failed<uint64_t>("write failed");
  auto reply = expectFrame(kFontsRegistered);
  if (!reply) return failed<uint64_t>(reply.failure.what);
  if (auto count = decodeFontCount(*reply.value)) return Outcome<uint64_t>{*count, {}};
  return failed<uint64_t>("undecodable " + describeFrame(*reply.value));
}

Outcome<MeasureResult> Client::measureAndWait(const LayoutRequest& request) {
  if (!measure(request)) return failed<MeasureResult>("write failed");
  auto reply = expectFrame(kMeasureResult);
  if (!reply) return failed<MeasureResult>(reply.failure.what);
  if (auto result = decodeMeasureResult(*reply.value)) return Outcome<MeasureResult>{*result, {}};
  return failed<MeasureResult>("undecodable " + describeFrame(*reply.value));
}

Outcome<std::vector<RenderResult>> Client::renderAndWait(const LayoutRequest& request) {
  using Results = std::vector<RenderResult>;
  if (!render(request)) return failed<Results>("write failed");
  Results results;
  for (size_t i = 0; i < request.fontIds.size(); ++i) {
    auto reply = expectFrame(kRenderResult);
    if (!reply) return failed<Results>(reply.failure.what);
    // A frame that does not decode is left untouched, so it can still be described.
    auto result = decodeRenderResult(std::move(*reply.value));
    if (!result) return failed<Results>("undecodable " + describeFrame(*reply.value));
    results.push_back(std::move(*result));
  }
  return Outcome<Results>{std::move(results), {}};
}

ProcessExit Client::stop(Milliseconds timeout) {
  shutdown();
  process_->closeInput();
  ProcessExit exit = process_->waitForExit(timeout);
  if (exit.kind == ProcessExit::Kind::kRunning) exit = process_->kill();
  return exit;
}

}  // namespace kfp::client
