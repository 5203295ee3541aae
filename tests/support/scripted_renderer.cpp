// A fake renderer for the host library's fault tests: it speaks the protocol well enough for the
// preview service to use it, and plays one scripted fault.
//
//   scripted_renderer [--state FILE] [--faulty-starts N] [--log FILE] [--slow MS] FAULT [FONT]
//
// --state counts this program's starts across restarts (one byte appended per start); with
// --faulty-starts the fault plays only in the first N starts, later starts behave. --log appends
// "type json" for every frame received. --slow waits MS before answering a Measure or Render.
//
// Faults (where a FONT is named, only a request holding that font plays it):
//   none               behave
//   exit-at-start      exit 2 before reading anything: a renderer that cannot start
//   die-registering    exit 1 on the first FontChunk
//   refuse-fonts       answer BeginFonts with Error INVALID_FONT_COUNT
//   garbage            answer a Measure or Render with bytes that are no frame, and stay alive
//   wrong-request-id   answer with another request id
//   wrong-font-id      answer with another font id
//   unexpected-frame   answer a Measure or Render with FontsRegistered
//   undecodable        answer with a MeasureResult or RenderResult without its fields
//   double-answer      answer a Measure twice; follow a Render's results with one more
//   short-answer       leave the last font out of a MeasureResult; end a Render's results one
//                      short, with a Pong nobody asked for
//   crash FONT         abort when drawing FONT (for a Measure: when measuring a batch with it)
//   memory-exit FONT   exit 75 when drawing FONT, as a renderer over its memory limit does
//   close-input        close stdin before the last result of the first Render, then stay alive

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "json_text.h"
#include "json_value.h"
#include "protocol/json_quote.h"
#include "protocol/message_types.h"

namespace {

using kfp::client::JsonValue;

struct Script {
  std::string fault = "none";
  std::string font;
  std::string logPath;
  int slowMs = 0;
  bool active = true;  // false once this start is past the faulty ones
};

bool readAll(void* buffer, size_t count) {
  auto* p = static_cast<char*>(buffer);
  while (count > 0) {
    const ssize_t n = ::read(0, p, count);
    if (n <= 0) return false;
    p += n;
    count -= size_t(n);
  }
  return true;
}

void writeAll(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(1, bytes.data() + done, bytes.size() - done);
    if (n <= 0) std::_Exit(4);
    done += size_t(n);
  }
}

void appendLe32(std::string& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

void sendFrame(uint8_t type, const std::string& json, const std::string& payload = {}) {
  std::string out;
  appendLe32(out, static_cast<uint32_t>(5 + json.size() + payload.size()));
  out.push_back(static_cast<char>(type));
  appendLe32(out, static_cast<uint32_t>(json.size()));
  out.append(json).append(payload);
  writeAll(out);
}

[[noreturn]] void stayAlive() {
  for (;;) ::pause();
}

int countStart(const std::string& statePath) {
  const int fd = ::open(statePath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  if (fd < 0 || ::write(fd, "s", 1) != 1) std::_Exit(2);
  const off_t size = ::lseek(fd, 0, SEEK_END);
  ::close(fd);
  return static_cast<int>(size);
}

std::string echo(const JsonValue& request, uint64_t requestId) {
  std::string out = "\"requestId\":";
  kfp::appendUnsigned(out, requestId);
  out += ",\"generation\":";
  kfp::appendUnsigned(out, request.unsignedAt("generation").value_or(0));
  out += ",\"layoutKey\":";
  out += kfp::client::quoteJsonString(request.stringAt("layoutKey").value_or(""));
  return out;
}

// One MeasureResult item or RenderResult: the echo (for a RenderResult), the font id, the rest.
std::string resultJson(const std::string& echoed, const std::string& fontId, const char* rest) {
  std::string out = "{";
  if (!echoed.empty()) out.append(echoed).append(",");
  out += "\"fontId\":";
  out += kfp::client::quoteJsonString(fontId);
  out += rest;
  return out;
}

void answerLayout(const Script& script, uint8_t type, const JsonValue& request) {
  const bool fault = script.active;
  std::vector<std::string> fontIds;
  if (const JsonValue* ids = request.find("fontIds")) {
    for (const auto& id : ids->elements()) fontIds.push_back(id.asString().value_or(""));
  }
  const bool holdsFont = script.font.empty() ||
                         std::find(fontIds.begin(), fontIds.end(), script.font) != fontIds.end();
  const bool play = fault && holdsFont;
  const std::string& f = script.fault;
  if (script.slowMs > 0) ::usleep(useconds_t(script.slowMs) * 1000);
  if (play && f == "garbage") {
    writeAll(std::string(64, '\xFF'));
    stayAlive();
  }
  if (play && f == "unexpected-frame") return sendFrame(kfp::kFontsRegistered, "{\"fontCount\":1}");
  uint64_t requestId = request.unsignedAt("requestId").value_or(0);
  if (play && f == "wrong-request-id") ++requestId;
  auto idOf = [&](const std::string& id) {
    return play && f == "wrong-font-id" ? std::string("other-").append(id) : id;
  };
  if (type == kfp::kMeasure) {
    if (play && f == "undecodable") return sendFrame(kfp::kMeasureResult, "{}");
    if (play && f == "crash") std::abort();
    if (play && f == "memory-exit") std::_Exit(75);
    std::string json = "{";
    json += echo(request, requestId);
    json += ",\"items\":[";
    const size_t items =
        play && f == "short-answer" && !fontIds.empty() ? fontIds.size() - 1 : fontIds.size();
    for (size_t i = 0; i < items; ++i) {
      if (i) json += ",";
      json += resultJson({}, idOf(fontIds[i]), ",\"resolved\":true,\"height\":12,\"lineCount\":1}");
    }
    json += "]}";
    sendFrame(kfp::kMeasureResult, json);
    if (play && f == "double-answer") sendFrame(kfp::kMeasureResult, json);
    return;
  }
  for (size_t i = 0; i < fontIds.size(); ++i) {
    const bool drawing = script.font.empty() || fontIds[i] == script.font;
    if (fault && drawing && f == "crash") std::abort();
    if (fault && drawing && f == "memory-exit") std::_Exit(75);
    if (play && f == "undecodable") {
      sendFrame(kfp::kRenderResult, "{}");
      continue;
    }
    if (play && f == "short-answer" && i + 1 == fontIds.size()) {
      sendFrame(kfp::kPong, "{}");
      break;
    }
    // Closed before the last result goes out, so that the host's next write finds it closed.
    const bool closing = play && f == "close-input" && i + 1 == fontIds.size();
    if (closing) ::close(0);
    sendFrame(kfp::kRenderResult,
              resultJson(echo(request, requestId), idOf(fontIds[i]),
                         ",\"resolved\":true,\"width\":2,\"height\":1,\"stride\":2,"
                         "\"textHeight\":12,\"pixelFormat\":\"gray8\"}"),
              std::string(2, '\x7F'));
    if (closing) stayAlive();
  }
  if (play && f == "double-answer" && !fontIds.empty()) {
    sendFrame(kfp::kRenderResult, resultJson(echo(request, requestId), fontIds[0],
                                             ",\"resolved\":false,\"error\":\"FONT_NOT_FOUND\"}"));
  }
}

}  // namespace

int main(int argc, char** argv) {
  Script script;
  std::string statePath;
  int faultyStarts = -1;
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--state" && i + 1 < argc) {
      statePath = argv[++i];
    } else if (arg == "--faulty-starts" && i + 1 < argc) {
      faultyStarts = std::atoi(argv[++i]);
    } else if (arg == "--log" && i + 1 < argc) {
      script.logPath = argv[++i];
    } else if (arg == "--slow" && i + 1 < argc) {
      script.slowMs = std::atoi(argv[++i]);
    } else {
      positional.push_back(arg);
    }
  }
  if (!positional.empty()) script.fault = positional[0];
  if (positional.size() > 1) script.font = positional[1];
  if (!statePath.empty()) {
    const int start = countStart(statePath);
    script.active = faultyStarts < 0 || start <= faultyStarts;
  }
  if (script.active && script.fault == "exit-at-start") return 2;

  FILE* log = script.logPath.empty() ? nullptr : std::fopen(script.logPath.c_str(), "a");
  uint64_t received = 0;
  for (;;) {
    unsigned char header[9];
    if (!readAll(header, sizeof header)) return 0;
    const uint32_t length =
        header[0] | header[1] << 8 | header[2] << 16 | uint32_t(header[3]) << 24;
    const uint32_t jsonLength =
        header[5] | header[6] << 8 | header[7] << 16 | uint32_t(header[8]) << 24;
    if (length < 5 || jsonLength > length - 5) return 0;
    std::string body(length - 5, '\0');
    if (!readAll(body.data(), body.size())) return 0;
    const uint8_t type = header[4];
    const std::string json = body.substr(0, jsonLength);
    if (log) {
      std::fprintf(log, "%d %s\n", type, json.c_str());
      std::fflush(log);
    }
    const auto request = kfp::client::parseJson(json.empty() ? "{}" : json);
    const JsonValue empty;
    const JsonValue& root = request ? *request : empty;
    switch (type) {
      case kfp::kHello:
        sendFrame(kfp::kHelloAck, "{\"protocolVersion\":1}");
        break;
      case kfp::kBeginFonts:
        if (script.active && script.fault == "refuse-fonts") {
          sendFrame(kfp::kError, "{\"error\":\"INVALID_FONT_COUNT\"}");
          break;
        }
        received = 0;
        sendFrame(kfp::kBeginFontsAck, "{}");
        break;
      case kfp::kFontChunk: {
        if (script.active && script.fault == "die-registering") return 1;
        if (const JsonValue* fonts = root.find("fonts")) received += fonts->elements().size();
        std::string ack = "{\"receivedCount\":";
        kfp::appendUnsigned(ack, received);
        sendFrame(kfp::kFontChunkAck, ack + "}");
        break;
      }
      case kfp::kCommitFonts:
      case kfp::kRegisterFonts: {
        std::string ack = "{\"fontCount\":";
        kfp::appendUnsigned(ack, received);
        sendFrame(kfp::kFontsRegistered, ack + "}");
        break;
      }
      case kfp::kMeasure:
      case kfp::kRender:
        answerLayout(script, type, root);
        break;
      case kfp::kPing:
        sendFrame(kfp::kPong, "{}");
        break;
      case kfp::kShutdown:
        return 0;
      default:
        break;  // SetGeneration, ClearCache: nothing to answer
    }
  }
}
