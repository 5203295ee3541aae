#include "preview_service.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <thread>

#include "death_policy.h"
#include "font_batches.h"
#include "protocol/message_types.h"

namespace kfp::client {
namespace {

using Clock = std::chrono::steady_clock;

// How often a worker waiting for a reply looks for a cancel.
constexpr Milliseconds kCancelPoll{20};
// Attempts to bring up one renderer within a request before the request fails.
constexpr int kStartAttempts = 3;
// A font that ended a renderer this many times in a row is given up on.
constexpr int kStrikesToFail = 2;

// An Error frame's code, as opposed to a description of a stream that broke.
bool isErrorCode(const std::string& failure) {
  return !failure.empty() && std::all_of(failure.begin(), failure.end(),
                                         [](char c) { return (c >= 'A' && c <= 'Z') || c == '_'; });
}

size_t defaultWorkerCount() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : cores;
}

}  // namespace

struct PreviewService::Worker {
  std::unique_ptr<Client> client;
  uint64_t registeredVersion = 0;
  bool everStarted = false;
  std::atomic<int> pid{0};
};

struct PreviewService::Call {
  bool isRender = false;
  const PreviewRequest* request = nullptr;
  uint64_t generation = 0;
  uint64_t epoch = 0;
  std::function<void(size_t, void*)> deliverTo;
  std::function<void(size_t, const char*)> failFont;

  std::mutex mutex;  // guards everything below
  std::condition_variable changed;
  std::deque<std::vector<size_t>> queue;
  size_t remaining = 0;  // fonts without a result yet
  int busy = 0;          // workers holding a batch
  std::vector<int> strikes;
  bool failed = false;
  std::string failure;

  void fail(std::string what) {
    std::lock_guard lock(mutex);
    if (!failed) failure = std::move(what);
    failed = true;
    changed.notify_all();
  }
};

PreviewService::PreviewService(PreviewServiceOptions options)
    : options_(std::move(options)),
      workerCount_(options_.workers ? options_.workers : defaultWorkerCount()) {
  for (size_t i = 0; i < workerCount_; ++i) workers_.push_back(std::make_unique<Worker>());
}

PreviewService::~PreviewService() {
  shutdown();
}

void PreviewService::setFonts(std::vector<FontDescriptor> fonts) {
  std::lock_guard lock(stateMutex_);
  fonts_ = std::move(fonts);
  ++fontSetVersion_;
}

PreviewServiceStats PreviewService::stats() const {
  std::lock_guard lock(stateMutex_);
  return stats_;
}

std::vector<int> PreviewService::rendererPids() const {
  std::vector<int> pids;
  for (const auto& worker : workers_) pids.push_back(worker->pid.load());
  return pids;
}

void PreviewService::cancel() {
  std::lock_guard lock(deliveryMutex_);
  ++epoch_;
  if (current_) {
    std::lock_guard callLock(current_->mutex);
    current_->changed.notify_all();
  }
}

void PreviewService::clearCache() {
  cancel();
  std::lock_guard lock(callMutex_);
  for (auto& worker : workers_) {
    if (worker->client) worker->client->clearCache();
  }
}

void PreviewService::shutdown() {
  cancel();
  std::lock_guard lock(callMutex_);
  for (auto& worker : workers_) {
    if (!worker->client) continue;
    worker->client->stop(options_.replyTimeout);
    worker->client.reset();
    worker->pid = 0;
  }
}

Outcome<std::vector<MeasureItem>> PreviewService::measure(const PreviewRequest& request,
                                                          const MeasureCallback& onItem) {
  return run<MeasureItem>(false, request, onItem);
}

Outcome<std::vector<RenderResult>> PreviewService::render(const PreviewRequest& request,
                                                          const RenderCallback& onResult) {
  return run<RenderResult>(true, request, onResult);
}

template <typename Result, typename Callback>
Outcome<std::vector<Result>> PreviewService::run(bool isRender, const PreviewRequest& request,
                                                 const Callback& onResult) {
  cancel();  // latest wins
  std::lock_guard callLock(callMutex_);

  Call call;
  call.isRender = isRender;
  call.request = &request;
  {
    std::lock_guard lock(stateMutex_);
    call.generation = ++generation_;
  }
  std::vector<Result> ordered;
  if (!onResult) ordered.resize(request.fontIds.size());
  call.deliverTo = [&](size_t index, void* result) {
    Result& value = *static_cast<Result*>(result);
    if (onResult) {
      onResult(index, std::move(value));
    } else {
      ordered[index] = std::move(value);
    }
  };
  call.failFont = [&](size_t index, const char* code) {
    Result failed;
    if constexpr (std::is_same_v<Result, RenderResult>) {
      failed.generation = call.generation;
      failed.layoutKey = request.layoutKey;
    }
    failed.fontId = request.fontIds[index];
    failed.error = code;
    if (deliver(call, index, &failed)) finishFont(call);
  };
  const size_t batchSize = isRender ? options_.renderBatch : options_.measureBatch;
  for (auto& batch : splitIntoBatches(request.fontIds, batchSize)) {
    call.queue.push_back(std::move(batch));
  }
  call.remaining = request.fontIds.size();
  call.strikes.assign(request.fontIds.size(), 0);

  {
    std::lock_guard lock(deliveryMutex_);
    call.epoch = epoch_;
    current_ = &call;
  }
  const size_t threads = std::min(workerCount_, call.queue.size());
  std::vector<std::thread> pool;
  for (size_t i = 0; i < threads; ++i) {
    pool.emplace_back([this, &call, i] { workOn(*workers_[i], call); });
  }
  for (auto& thread : pool) thread.join();
  {
    std::lock_guard lock(deliveryMutex_);
    current_ = nullptr;
  }

  if (epoch_ != call.epoch) {
    // The renderers that took part have been told already; the others hear it too, so that every
    // renderer's watermark covers the cancelled generation.
    for (size_t i = threads; i < workerCount_; ++i) {
      if (workers_[i]->client) workers_[i]->client->setGeneration(call.generation);
    }
    return {std::nullopt, Failure{"cancelled"}};
  }
  if (call.failed) return {std::nullopt, Failure{call.failure}};
  return {std::move(ordered), {}};
}

bool PreviewService::deliver(Call& call, size_t index, void* result) {
  std::lock_guard lock(deliveryMutex_);
  if (epoch_ != call.epoch) return false;
  call.deliverTo(index, result);
  return true;
}

void PreviewService::finishFont(Call& call) {
  std::lock_guard lock(call.mutex);
  if (--call.remaining == 0) call.changed.notify_all();
}

void PreviewService::workOn(Worker& worker, Call& call) {
  int failedStarts = 0;
  for (;;) {
    std::vector<size_t> batch;
    {
      std::unique_lock lock(call.mutex);
      call.changed.wait(lock, [&] {
        return !call.queue.empty() || call.remaining == 0 || call.failed || epoch_ != call.epoch ||
               call.busy == 0;
      });
      if (call.remaining == 0 || call.failed || epoch_ != call.epoch) break;
      if (call.queue.empty()) {
        // Nobody holds a batch and none is queued, yet fonts are missing: a bookkeeping fault
        // must fail the request, not hang it.
        lock.unlock();
        call.fail("internal error: fonts left without a batch");
        break;
      }
      batch = std::move(call.queue.front());
      call.queue.pop_front();
      ++call.busy;
    }
    auto release = [&](std::vector<size_t>* requeue) {
      std::lock_guard lock(call.mutex);
      if (requeue && !requeue->empty()) call.queue.push_front(std::move(*requeue));
      --call.busy;
      call.changed.notify_all();
    };

    std::string failure;
    if (!ensureReady(worker, failure)) {
      // The renderer is alive and said no: another renderer would say the same. One over its
      // memory limit (a large font set staged next to the active one) exits instead and is
      // replaced like any renderer that died; a set too large for any renderer still ends the
      // request after kStartAttempts.
      if (worker.client && isErrorCode(failure) && failure != errors::kMemoryHardLimit) {
        release(&batch);
        call.fail(failure);
        break;
      }
      worker.client.reset();
      worker.pid = 0;
      release(&batch);
      if (++failedStarts >= kStartAttempts) {
        call.fail("renderer could not be started: " + failure);
        break;
      }
      continue;
    }
    failedStarts = 0;

    std::vector<size_t> owed;
    bool memoryExit = false;
    const BatchEnd end = runBatch(worker, call, batch, owed, memoryExit);
    if (end == BatchEnd::kDied) {
      handleDeath(worker, call, std::move(owed), memoryExit);
      release(nullptr);
    } else if (end == BatchEnd::kRefused) {
      worker.client.reset();
      worker.pid = 0;
      release(nullptr);
      call.fail("the renderer's reply did not match the request");
      break;
    } else {
      release(nullptr);
    }
  }
  // A cancelled request's leftovers must not be answered: raise the generation on this renderer.
  if (epoch_ != call.epoch && worker.client) worker.client->setGeneration(call.generation);
}

bool PreviewService::ensureReady(Worker& worker, std::string& failure) {
  if (!worker.client) {
    worker.client =
        Client::start({options_.rendererPath, options_.extraArgs, options_.replyTimeout}, &failure);
    if (!worker.client) return false;
    worker.pid = worker.client->process().pid();
    {
      std::lock_guard lock(stateMutex_);
      ++stats_.rendererStarts;
      if (worker.everStarted) ++stats_.rendererRestarts;
    }
    worker.everStarted = true;
    worker.registeredVersion = 0;
    Frame ack;
    if (!worker.client->hello()) {
      failure = "write failed";
      return false;
    }
    const ReadStatus status = worker.client->receive(ack);
    if (status != ReadStatus::kFrame) {
      failure = readStatusName(status);
      return false;
    }
    if (ack.type != kHelloAck) {
      failure = "handshake refused: " + describeFrame(ack);
      return false;
    }
  }
  std::vector<FontDescriptor> fonts;
  uint64_t version = 0;
  {
    std::lock_guard lock(stateMutex_);
    version = fontSetVersion_;
    if (worker.registeredVersion == version) return true;
    fonts = fonts_;
  }
  auto registered = worker.client->registerFontsChunkedAndWait(fonts, options_.registrationChunk);
  if (!registered) {
    failure = registered.failure.what;
    return false;
  }
  worker.registeredVersion = version;
  return true;
}

PreviewService::BatchEnd PreviewService::runBatch(Worker& worker, Call& call,
                                                  const std::vector<size_t>& batch,
                                                  std::vector<size_t>& owed, bool& memoryExit) {
  Client& client = *worker.client;
  const PreviewRequest& request = *call.request;
  LayoutRequest layout;
  {
    std::lock_guard lock(stateMutex_);
    layout.requestId = ++nextRequestId_;
  }
  layout.generation = call.generation;
  static_cast<LayoutParameters&>(layout) = request;
  for (size_t index : batch) layout.fontIds.push_back(request.fontIds[index]);
  owed = batch;

  // A Ping after a Measure tells a dropped MeasureResult (the Pong comes first) from a slow one.
  const bool sent = call.isRender ? client.render(layout) : client.measure(layout) && client.ping();
  if (!sent) return BatchEnd::kDied;

  bool measured = false;
  for (;;) {
    // Waits in short steps so that a cancel is seen while the renderer works.
    Frame frame;
    ReadStatus status = ReadStatus::kTimeout;
    const auto deadline = Clock::now() + options_.replyTimeout;
    while (status == ReadStatus::kTimeout) {
      if (epoch_ != call.epoch) break;
      const auto left = std::chrono::duration_cast<Milliseconds>(deadline - Clock::now());
      if (left <= Milliseconds(0)) break;
      status = client.receive(frame, std::min(left, kCancelPoll));
    }
    if (status == ReadStatus::kTimeout && epoch_ != call.epoch) {
      resync(worker, call);
      return BatchEnd::kCancelled;
    }
    if (status == ReadStatus::kTimeout) {
      // Hung: a renderer that does not answer in time is killed and replaced.
      client.process().kill();
      return BatchEnd::kDied;
    }
    if (status != ReadStatus::kFrame) return BatchEnd::kDied;

    if (frame.type == kFatalError) {
      memoryExit = decodeErrorCode(frame) == std::string(errors::kMemoryHardLimit);
      continue;  // the exit follows
    }
    if (!call.isRender && frame.type == kPong) {
      if (measured) return BatchEnd::kDone;
      // The MeasureResult was dropped: only a batch whose reply outgrew the limit loses it.
      std::vector<size_t> first(owed.begin(), owed.begin() + ptrdiff_t(owed.size() / 2));
      std::vector<size_t> second(owed.begin() + ptrdiff_t(owed.size() / 2), owed.end());
      if (owed.size() == 1) {
        call.failFont(owed.front(), kReplyTooLargeError);
      } else {
        std::lock_guard lock(call.mutex);
        call.queue.push_front(std::move(second));
        call.queue.push_front(std::move(first));
      }
      owed.clear();
      return BatchEnd::kDone;
    }
    if (!call.isRender && frame.type == kMeasureResult) {
      auto result = decodeMeasureResult(frame);
      if (!result || result->requestId != layout.requestId ||
          result->items.size() != batch.size()) {
        client.process().kill();
        return BatchEnd::kRefused;
      }
      for (size_t k = 0; k < batch.size(); ++k) {
        if (result->items[k].fontId != layout.fontIds[k]) {
          client.process().kill();
          return BatchEnd::kRefused;
        }
        if (!deliver(call, batch[k], &result->items[k])) {
          resync(worker, call);
          return BatchEnd::kCancelled;
        }
        finishFont(call);
      }
      owed.clear();
      measured = true;
      continue;
    }
    if (call.isRender && frame.type == kRenderResult) {
      auto result = decodeRenderResult(std::move(frame));
      const size_t index = owed.front();
      if (!result || result->requestId != layout.requestId ||
          result->fontId != request.fontIds[index]) {
        client.process().kill();
        return BatchEnd::kRefused;
      }
      if (!deliver(call, index, &*result)) {
        resync(worker, call);
        return BatchEnd::kCancelled;
      }
      finishFont(call);
      owed.erase(owed.begin());
      if (owed.empty()) return BatchEnd::kDone;
      continue;
    }
    // Anything else means the renderer and this service disagree about the stream.
    client.process().kill();
    return BatchEnd::kRefused;
  }
}

void PreviewService::resync(Worker& worker, Call& call) {
  // Skip what is still queued, then read up to a Pong so that the stream is in step again.
  Client& client = *worker.client;
  if (client.setGeneration(call.generation) && client.ping()) {
    for (;;) {
      Frame skipped;
      if (client.receive(skipped) != ReadStatus::kFrame) break;
      if (skipped.type == kPong) return;
    }
  }
  worker.client.reset();  // kills and reaps it
  worker.pid = 0;
}

void PreviewService::handleDeath(Worker& worker, Call& call, std::vector<size_t>&& owed,
                                 bool memoryExit) {
  ProcessExit exit = worker.client->process().waitForExit(Milliseconds(2000));
  if (exit.kind == ProcessExit::Kind::kRunning) exit = worker.client->process().kill();
  if (exit.exitedWith(75)) memoryExit = true;
  worker.client.reset();
  worker.pid = 0;
  if (owed.empty()) return;

  AfterDeath plan;
  {
    std::lock_guard lock(call.mutex);
    plan = planAfterDeath(call.isRender, memoryExit, std::move(owed), call.strikes, kStrikesToFail);
    for (auto batch = plan.retry.rbegin(); batch != plan.retry.rend(); ++batch) {
      call.queue.push_front(std::move(*batch));
    }
  }
  if (plan.givenUp) call.failFont(*plan.givenUp, kRendererCrashedError);
}

}  // namespace kfp::client
