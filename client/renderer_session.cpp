#include "renderer_session.h"

#include <algorithm>
#include <chrono>

#include "protocol/exit_codes.h"
#include "protocol/message_types.h"

namespace kfp::client {
namespace {

using Clock = std::chrono::steady_clock;

// How often a worker waiting for a reply looks for a cancel.
constexpr Milliseconds kCancelPoll{20};
// How long a renderer whose output ended may take to exit by itself before it is killed.
constexpr Milliseconds kExitGrace{2000};
// The renderer's exit code after it went over its memory hard limit.

}  // namespace

std::optional<RendererSession::Prepared> RendererSession::greet(Starts& starts) {
  auto started = Client::start({options_.rendererPath, options_.extraArgs, options_.replyTimeout});
  if (!started) return Prepared{PrepareFailure::kStart, started.error()};
  client_ = std::move(started).value();
  starts.started = true;
  starts.replaced = everStarted_;
  pid_ = client_->pid();
  everStarted_ = true;
  registeredVersion_ = 0;
  pongsOwed_ = 0;
  auto fail = [&](const Error& why) {
    end();
    return Prepared{PrepareFailure::kStart,
                    Error(ErrorKind::kStartFailed, codes::kStartFailed, why.describe())};
  };
  if (auto sent = client_->hello(); !sent) return fail(sent.error());
  Frame ack;
  const ReadStatus status = client_->receive(ack);
  if (status != ReadStatus::kFrame) return fail(readFailure(status));
  if (ack.type != kHelloAck) {
    return fail(Error(ErrorKind::kProtocol, codes::kUnexpectedReply, describeFrame(ack)));
  }
  return std::nullopt;
}

std::optional<RendererSession::Prepared> RendererSession::prepare(
    const std::vector<FontDescriptor>& fonts, uint64_t version, Starts& starts) {
  if (!client_) {
    if (auto failed = greet(starts)) return failed;
  }
  if (registeredVersion_ == version) return std::nullopt;
  auto registered = client_->registerFontsChunkedAndWait(fonts, options_.registrationChunk);
  if (registered) {
    registeredVersion_ = version;
    answered_.clear();
    return std::nullopt;
  }
  const Error& error = registered.error();
  // A renderer over its memory limit exits rather than refusing: a set too large for any renderer
  // ends the request after the start attempts, like a renderer that cannot start.
  if (error.kind() == ErrorKind::kRendererError && error.code() == errors::kMemoryHardLimit) {
    end();
    return Prepared{PrepareFailure::kStart, error};
  }
  if (error.kind() == ErrorKind::kRendererError) return Prepared{PrepareFailure::kRefused, error};
  if (error.kind() == ErrorKind::kInvalidRequest) {
    // A chunk too large to send: no renderer would take the set. This one is left half-way through
    // a registration, so it goes.
    end();
    return Prepared{PrepareFailure::kRefused, error};
  }
  end();
  return Prepared{PrepareFailure::kDied, error};
}

BatchReport RendererSession::run(bool isRender, const LayoutRequest& layout,
                                 BatchReceiver& receiver) {
  Client& client = *client_;
  BatchReport report;
  const size_t count = layout.fontIds.size();

  // A Ping after a Measure tells a dropped MeasureResult (the Pong comes first) from a slow one.
  Status sent = isRender ? client.render(layout) : client.measure(layout);
  if (sent && !isRender) {
    sent = client.ping();
    if (sent) ++pongsOwed_;
  }
  if (!sent) {
    if (sent.error().kind() == ErrorKind::kInvalidRequest) {
      report.end = BatchEnd::kUnsendable;
      report.error = sent.error();
      return report;
    }
    // The renderer stopped reading; it may still be running.
    return died(report, false);
  }

  bool measured = false;
  for (;;) {
    // Waits in short steps so that a cancel is seen while the renderer works.
    Frame frame;
    ReadStatus status = ReadStatus::kTimeout;
    const auto deadline = Clock::now() + options_.replyTimeout;
    while (status == ReadStatus::kTimeout && !receiver.cancelled()) {
      const auto left = std::chrono::duration_cast<Milliseconds>(deadline - Clock::now());
      if (left <= Milliseconds(0)) break;
      status = client.receive(frame, std::min(left, kCancelPoll));
    }
    if (status == ReadStatus::kTimeout && receiver.cancelled()) {
      resync(layout.generation);
      report.end = BatchEnd::kCancelled;
      return report;
    }
    // Hung: a renderer that does not answer in time is killed and replaced.
    if (status == ReadStatus::kTimeout) return died(report, true);
    // Bytes that are no frame: nothing after them can be trusted.
    if (status == ReadStatus::kMalformed) return died(report, true);
    if (status != ReadStatus::kFrame) return died(report, false);

    if (frame.type == kFatalError) {
      report.memoryExit = decodeErrorCode(frame) == std::string(errors::kMemoryHardLimit);
      continue;  // the exit follows
    }
    if (!isRender && frame.type == kPong && pongsOwed_ > 0) {
      --pongsOwed_;
      report.end = measured ? BatchEnd::kDone : BatchEnd::kReplyDropped;
      return report;
    }
    if (!isRender && frame.type == kMeasureResult && !measured) {
      // Checked whole before anything is delivered: a reply that answers something else, or a
      // second answer, is a protocol fault and the renderer is replaced.
      auto result = decodeMeasureResult(frame);
      if (!result || result->requestId != layout.requestId || result->items.size() != count) {
        return died(report, true);
      }
      for (size_t k = 0; k < count; ++k) {
        if (result->items[k].fontId != layout.fontIds[k]) return died(report, true);
      }
      for (size_t k = 0; k < count; ++k) {
        if (!receiver.deliver(k, result->items[k])) {
          resync(layout.generation);
          report.end = BatchEnd::kCancelled;
          return report;
        }
      }
      report.answered = count;
      answered_.insert(layout.fontIds.begin(), layout.fontIds.end());
      measured = true;
      continue;
    }
    if (isRender && frame.type == kRenderResult) {
      auto result = decodeRenderResult(std::move(frame));
      const size_t k = report.answered;
      if (!result || result->requestId != layout.requestId || result->fontId != layout.fontIds[k]) {
        return died(report, true);
      }
      if (!receiver.deliver(k, *result)) {
        resync(layout.generation);
        report.end = BatchEnd::kCancelled;
        return report;
      }
      answered_.insert(layout.fontIds[k]);
      if (++report.answered == count) return report;
      continue;
    }
    // Anything else means the renderer and this service disagree about the stream.
    return died(report, true);
  }
}

BatchReport RendererSession::died(BatchReport report, bool atOnce) {
  report.end = BatchEnd::kDied;
  ProcessExit exit = atOnce ? client_->kill() : client_->waitForExit(kExitGrace);
  if (exit.kind == ProcessExit::Kind::kRunning) exit = client_->kill();
  if (exit.exitedWith(kExitMemoryHardLimit)) report.memoryExit = true;
  end();
  return report;
}

void RendererSession::resync(uint64_t generation) {
  if (client_->setGeneration(generation) && client_->ping()) {
    ++pongsOwed_;
    while (pongsOwed_ > 0) {
      Frame skipped;
      if (client_->receive(skipped) != ReadStatus::kFrame) break;
      if (skipped.type == kPong) --pongsOwed_;
    }
    if (pongsOwed_ == 0) return;
  }
  end();
}

void RendererSession::skipGeneration(uint64_t generation) {
  if (client_) (void)client_->setGeneration(generation);
}

void RendererSession::clearCache() {
  answered_.clear();
  if (client_) (void)client_->clearCache();
}

void RendererSession::stop(Milliseconds timeout) {
  if (!client_) return;
  client_->stop(timeout);
  end();
}

void RendererSession::end() {
  client_.reset();  // kills and reaps a renderer still running
  pid_ = 0;
  answered_.clear();
  pongsOwed_ = 0;
}

}  // namespace kfp::client
