#include "host/message_loop.h"

#include <cstdlib>
#include <new>

#include "base/json.h"
#include "host/memory_guard.h"
#include "host/messages.h"
#include "host/registration_handlers.h"
#include "host/renderer_context.h"
#include "host/replies.h"
#include "host/request_handlers.h"
#include "protocol/frame.h"

namespace kfp {
namespace {

enum class Next { kContinue, kStop };

// Frame buffers (the request read and the RenderResult composed) above this size are given back
// after their frame: a frame may be 64 MiB, and keeping that capacity would hold memory that the
// memory guard can never free.
constexpr size_t kKeptFrameBufferBytes = 1 << 20;
struct LoopState {
  RendererContext& context;
  ByteWriter& out;
  Frame renderReply;  // RenderResult text and bitmap, reused from font to font
  uint64_t watermark = 0;
  int exitCode = kExitOk;
};

void writeError(ByteWriter& out, std::string_view code) {
  writeErrorReply(out, kError, code);
}

void handleHello(const JsonObject& request, ByteWriter& out) {
  const double version = request.getNamedNumber(u"protocolVersion", 0);
  // Truncation toward zero into int32; anything outside that range (NaN included) is INT32_MIN.
  const int32_t truncated = (version > -2147483649.0 && version < 2147483648.0)
                                ? static_cast<int32_t>(version)
                                : INT32_MIN;
  if (truncated == kProtocolVersion) {
    writeFrame(out, kHelloAck, helloAckJson());
  } else {
    writeError(out, errors::kProtocolMismatch);
  }
}

Next dispatch(LoopState& state, const Frame& frame, const JsonObject& request) {
  RendererContext& context = state.context;
  ByteWriter& out = state.out;
  switch (frame.type) {
    case kHello:
      handleHello(request, out);
      break;
    case kRegisterFonts:
      handleRegisterFonts(context, request, out);
      break;
    case kMeasure:
      handleMeasure(context, request, out, state.watermark);
      break;
    case kRender:
      if (!handleRender(context, request, out, state.renderReply, state.watermark)) {
        state.exitCode = kExitRenderWriteFailed;
        return Next::kStop;
      }
      break;
    case kSetGeneration:
      handleSetGeneration(request, state.watermark);
      break;
    case kPing:
      writeFrame(out, kPong, kEmptyObjectJson);
      break;
    case kShutdown:
      state.exitCode = kExitOk;
      return Next::kStop;
    case kClearCache:
      context.clearResolvedFonts();
      break;
    case kBeginFonts:
      handleBeginFonts(context, request, out);
      break;
    case kFontChunk:
      handleFontChunk(context, request, out);
      break;
    case kCommitFonts:
      handleCommitFonts(context, out);
      break;
    default:
      writeError(out, errors::kUnknownMessage);
      break;
  }
  return Next::kContinue;
}

// Parses and dispatches one frame. Platform errors (bad JSON above all) are answered with
// INVALID_JSON, anything else with INTERNAL_ERROR; the loop goes on either way.
Next handleFrame(LoopState& state, const Frame& frame) {
  try {
    const JsonObject request =
        frame.json.empty() ? JsonObject::empty() : JsonObject::parse(frame.json);
    return dispatch(state, frame, request);
  } catch (const JsonError&) {
    writeError(state.out, errors::kInvalidJson);
  } catch (...) {
    writeError(state.out, errors::kInternalError);
  }
  return Next::kContinue;
}

void releaseLargeBuffers(Frame& frame) {
  if (frame.json.capacity() > kKeptFrameBufferBytes) std::string().swap(frame.json);
  if (frame.payload.capacity() > kKeptFrameBufferBytes) std::vector<uint8_t>().swap(frame.payload);
}

}  // namespace

int runMessageLoop(Backend& backend, ByteReader& in, ByteWriter& out, LoopEnd end,
                   const std::function<void()>& onReady) {
  RendererContext context(backend);
  if (!context.initialize()) {
    writeError(out, errors::kInitializeFailed);
    return kExitInitializeFailed;
  }
  if (onReady) onReady();

  LoopState state{context, out};
  Frame frame;
  const auto finish = [end](int code) {
    // Frames are written unbuffered, so nothing is left to flush.
    if (end == LoopEnd::kExitAtOnce) std::_Exit(code);
    return code;
  };
  while (readFrame(in, frame)) {
    if (checkMemory(context) == MemoryVerdict::kHardLimitExceeded) {
      writeErrorReply(out, kFatalError, errors::kMemoryHardLimit);
      return finish(kExitMemoryHardLimit);
    }
    if (handleFrame(state, frame) == Next::kStop) return finish(state.exitCode);
    releaseLargeBuffers(frame);
    releaseLargeBuffers(state.renderReply);
  }
  return finish(kExitOk);
}

bool isVersionRequest(std::string_view argumentText) {
  return argumentText.find("--version") != std::string_view::npos;
}

void writeVersionLine(ByteWriter& out) {
  std::string line(kIdentityText);
  line += kRendererVersion;
  line.push_back('\n');
  writeAll(out, line.data(), line.size());
}

}  // namespace kfp
