#include "support/e2e_renderer.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "protocol/message_types.h"

namespace kfp::test {
namespace {

std::string environmentText(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

void appendLe32(std::string& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

std::string printable(std::string_view bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F) {
      out.push_back(static_cast<char>(c));
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}

}  // namespace

std::string rendererUnderTest(const char* builtPath) {
  const std::string named = environmentText("KFP_RENDERER_EXE");
  return named.empty() ? builtPath : named;
}

bool launcherInUse() {
  return !environmentText("KFP_RENDERER_LAUNCHER").empty();
}

std::string launcherPath() {
  return environmentText("KFP_RENDERER_LAUNCHER");
}

std::string testHooksRenderer() {
  return environmentText("KFP_RENDERER_TESTHOOKS_EXE");
}

std::string frameHeader(uint32_t length, uint8_t type, uint32_t jsonLength) {
  std::string out;
  appendLe32(out, length);
  out.push_back(static_cast<char>(type));
  appendLe32(out, jsonLength);
  return out;
}

uint64_t anonymousBytes(int pid) {
  std::ifstream statm("/proc/" + std::to_string(pid) + "/statm");
  uint64_t size = 0, resident = 0, shared = 0;
  statm >> size >> resident >> shared;
  return (resident - shared) * uint64_t(sysconf(_SC_PAGESIZE));
}

std::string frameBytes(uint8_t type, std::string_view json, std::string_view payload) {
  std::string out = frameHeader(static_cast<uint32_t>(5 + json.size() + payload.size()), type,
                                static_cast<uint32_t>(json.size()));
  out += json;
  out += payload;
  return out;
}

RendererSession::RendererSession(const std::string& rendererPath, std::vector<std::string> args,
                                 Milliseconds replyTimeout) {
  client::ClientOptions options;
  options.rendererPath = rendererPath;
  options.extraArgs = std::move(args);
  if (launcherInUse()) {
    options.rendererPath = environmentText("KFP_RENDERER_LAUNCHER");
    options.extraArgs.insert(options.extraArgs.begin(), rendererPath);
  }
  options.replyTimeout = replyTimeout;
  auto started = client::Client::start(options);
  if (started) {
    client_ = std::move(started).value();
  } else {
    startError_ = started.error().describe();
  }
}

RendererSession::~RendererSession() {
  // A test that failed half-way leaves a running renderer; it must not outlive the test.
  if (client_) client_->kill();
}

::testing::AssertionResult RendererSession::started() const {
  if (client_) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "renderer did not start: " << startError_;
}

::testing::AssertionResult RendererSession::expectReply(uint8_t type, std::string_view json) {
  client::Frame frame;
  const auto status = client_->receive(frame);
  if (status != client::ReadStatus::kFrame) {
    return ::testing::AssertionFailure() << "expected type " << int(type) << " " << json << ", got "
                                         << client::readStatusName(status) << " ("
                                         << client_->waitForExit(Milliseconds(0)).describe() << ")";
  }
  if (frame.type != type || frame.json != json || !frame.payload.empty()) {
    return ::testing::AssertionFailure()
           << "expected type " << int(type) << " " << printable(json) << "\n     got "
           << printable(client::describeFrame(frame));
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult RendererSession::expectError(std::string_view code) {
  return expectReply(kError, "{\"error\":\"" + std::string(code) + "\"}");
}

::testing::AssertionResult RendererSession::expectNothingPending() {
  if (!client_->ping()) return ::testing::AssertionFailure() << "Ping could not be written";
  return expectReply(kPong, "{}");
}

::testing::AssertionResult RendererSession::expectExit(int code, Milliseconds timeout) {
  const auto exit = client_->waitForExit(timeout);
  if (exit.exitedWith(code)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "expected exit code " << code << ", got " << exit.describe();
}

::testing::AssertionResult RendererSession::expectOutputEnded() {
  client::Frame frame;
  const auto status = client_->receive(frame);
  if (status == client::ReadStatus::kEndOfStream) return ::testing::AssertionSuccess();
  auto failure = ::testing::AssertionFailure()
                 << "expected the end of output, got " << client::readStatusName(status);
  if (status == client::ReadStatus::kFrame) failure << ": " << client::describeFrame(frame);
  return failure;
}

::testing::AssertionResult RendererSession::expectStderrEmpty() {
  const std::string& text = client_->stderrText();
  if (text.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "stderr is not empty: " << printable(text);
}

::testing::AssertionResult RendererSession::expectCleanEnd() {
  process().closeInput();
  if (auto r = expectExit(0); !r) return r;
  if (auto r = expectOutputEnded(); !r) return r;
  return expectStderrEmpty();
}

}  // namespace kfp::test
