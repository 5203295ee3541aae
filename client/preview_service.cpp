#include "preview_service.h"

// The scheduler: one request at a time, its fonts cut into batches that the pool's workers take
// from one queue, what becomes of a batch that did not end well, and delivery to the callback
// with cancellation. The conversation with each renderer is in renderer_session.cpp.

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <thread>
#include <utility>

#include "death_policy.h"
#include "font_batches.h"
#include "protocol/reply_bounds.h"
#include "renderer_session.h"

namespace kfp::client {
namespace {

// Attempts to bring up one renderer within a request before the request fails.
constexpr int kStartAttempts = 3;
// Renderers in a row that started and then died while the font set was registered, before the
// request fails: a set that kills every renderer must not restart them forever.
constexpr int kRegistrationDeaths = 8;
// A font that ended a renderer this many times in a row is given up on.
constexpr int kStrikesToFail = 2;

size_t defaultWorkerCount() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : cores;
}

PreviewServiceOptions clamped(PreviewServiceOptions options) {
  options.measureBatch = std::max<size_t>(options.measureBatch, 1);
  options.renderBatch = std::max<size_t>(options.renderBatch, 1);
  options.newFacesPerBatch = std::max<size_t>(options.newFacesPerBatch, 1);
  options.registrationChunk =
      std::clamp<size_t>(options.registrationChunk, 1, kMaxRegistrationChunk);
  if (options.replyTimeout <= Milliseconds(0)) options.replyTimeout = Milliseconds(10000);
  return options;
}

// The service whose result callback this thread is running, if any.
thread_local const PreviewService* tCallbackOf = nullptr;

Error calledFromCallback(const char* what) {
  return Error(ErrorKind::kInvalidRequest, codes::kCalledFromCallback,
               std::string(what) + " from a result callback would wait for that callback");
}

}  // namespace

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
  std::optional<Error> failure;

  // Gives a batch back: `requeue` goes first in the queue, and `error` (the first one counts)
  // fails the request. One step under the lock, so that no other worker sees the batch gone
  // before the failure is set.
  void release(std::vector<size_t>* requeue, std::optional<Error> error = std::nullopt) {
    std::lock_guard lock(mutex);
    if (requeue && !requeue->empty()) queue.push_front(std::move(*requeue));
    if (error && !failure) failure = std::move(error);
    --busy;
    changed.notify_all();
  }
};

// Hands one batch's results to the call, by position in the request.
class PreviewService::Delivery final : public BatchReceiver {
 public:
  Delivery(PreviewService& service, Call& call, const std::vector<size_t>& batch)
      : service_(service), call_(call), batch_(batch) {}
  bool cancelled() const override { return service_.epoch_ != call_.epoch; }
  bool deliver(size_t k, MeasureItem& item) override { return forward(k, &item); }
  bool deliver(size_t k, RenderResult& result) override { return forward(k, &result); }

 private:
  bool forward(size_t k, void* result) {
    if (!service_.deliver(call_, batch_[k], result)) return false;
    service_.finishFont(call_);
    return true;
  }
  PreviewService& service_;
  Call& call_;
  const std::vector<size_t>& batch_;
};

PreviewService::PreviewService(PreviewServiceOptions options)
    : options_(clamped(std::move(options))),
      workerCount_(options_.workers ? options_.workers : defaultWorkerCount()) {
  const SessionOptions session{options_.rendererPath, options_.extraArgs, options_.replyTimeout,
                               options_.registrationChunk};
  for (size_t i = 0; i < workerCount_; ++i) {
    sessions_.push_back(std::make_unique<RendererSession>(session));
  }
}

PreviewService::~PreviewService() {
  (void)shutdown();
}

void PreviewService::setFonts(std::vector<FontDescriptor> fonts) {
  std::lock_guard lock(stateMutex_);
  fonts_ = std::make_shared<const std::vector<FontDescriptor>>(std::move(fonts));
  ++fontSetVersion_;
}

std::pair<std::shared_ptr<const std::vector<FontDescriptor>>, uint64_t> PreviewService::fontSet()
    const {
  std::lock_guard lock(stateMutex_);
  return {fonts_, fontSetVersion_};
}

PreviewServiceStats PreviewService::stats() const {
  std::lock_guard lock(stateMutex_);
  return stats_;
}

std::vector<int> PreviewService::rendererPids() const {
  std::vector<int> pids;
  for (const auto& session : sessions_) pids.push_back(session->pid());
  return pids;
}

bool PreviewService::inCallback() const {
  return tCallbackOf == this;
}

void PreviewService::cancel() {
  std::lock_guard lock(deliveryMutex_);
  ++epoch_;
  if (current_) {
    std::lock_guard callLock(current_->mutex);
    current_->changed.notify_all();
  }
}

Status PreviewService::clearCache() {
  if (inCallback()) return calledFromCallback("clearCache()");
  cancel();
  std::lock_guard lock(callMutex_);
  for (auto& session : sessions_) session->clearCache();
  return {};
}

Status PreviewService::shutdown() {
  if (inCallback()) return calledFromCallback("shutdown()");
  cancel();
  std::lock_guard lock(callMutex_);
  for (auto& session : sessions_) session->stop(options_.replyTimeout);
  return {};
}

Outcome<std::vector<MeasureItem>> PreviewService::measure(const PreviewRequest& request,
                                                          const MeasureCallback& onItem) {
  if (inCallback()) return calledFromCallback("measure()");
  return run<MeasureItem>(false, request, onItem);
}

Outcome<std::vector<RenderResult>> PreviewService::render(const PreviewRequest& request,
                                                          const RenderCallback& onResult) {
  if (inCallback()) return calledFromCallback("render()");
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
  for (auto& batch :
       splitIntoBatches(request.fontIds, batchSize, measureItemsBudget(request.layoutKey.size()))) {
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
    pool.emplace_back([this, &call, i] { workOn(*sessions_[i], call); });
  }
  for (auto& thread : pool) thread.join();
  {
    std::lock_guard lock(deliveryMutex_);
    current_ = nullptr;
  }

  if (epoch_ != call.epoch) {
    // The renderers that took part have been told already; the others hear it too, so that every
    // renderer's watermark covers the cancelled generation.
    for (size_t i = threads; i < workerCount_; ++i) sessions_[i]->skipGeneration(call.generation);
    return Error(ErrorKind::kCancelled, codes::kCancelled);
  }
  if (call.failure) return *call.failure;
  return ordered;
}

bool PreviewService::deliver(Call& call, size_t index, void* result) {
  std::lock_guard lock(deliveryMutex_);
  if (epoch_ != call.epoch) return false;
  // Restored on the way out, a throwing callback included, and nested services keep theirs.
  struct Marked {
    const PreviewService* previous;
    ~Marked() { tCallbackOf = previous; }
  } marked{std::exchange(tCallbackOf, this)};
  call.deliverTo(index, result);
  return true;
}

void PreviewService::finishFont(Call& call) {
  std::lock_guard lock(call.mutex);
  if (--call.remaining == 0) call.changed.notify_all();
}

void PreviewService::workOn(RendererSession& session, Call& call) {
  int failedStarts = 0;
  int registrationDeaths = 0;
  for (;;) {
    std::vector<size_t> batch;
    {
      std::unique_lock lock(call.mutex);
      call.changed.wait(lock, [&] {
        return !call.queue.empty() || call.remaining == 0 || call.failure || epoch_ != call.epoch ||
               call.busy == 0;
      });
      if (call.remaining == 0 || call.failure || epoch_ != call.epoch) break;
      if (call.queue.empty()) {
        // Nobody holds a batch and none is queued, yet fonts are missing: a bookkeeping fault
        // must fail the request, not hang it.
        call.failure = Error(ErrorKind::kInternal, codes::kInternal, "fonts left without a batch");
        call.changed.notify_all();
        break;
      }
      batch = std::move(call.queue.front());
      call.queue.pop_front();
      ++call.busy;
    }

    const auto [fonts, version] = fontSet();
    RendererSession::Starts starts;
    auto failed = session.prepare(*fonts, version, starts);
    if (starts.started) {
      std::lock_guard lock(stateMutex_);
      ++stats_.rendererStarts;
      if (starts.replaced) ++stats_.rendererRestarts;
    }
    if (failed) {
      switch (failed->failure) {
        case PrepareFailure::kRefused:
          // The renderer said no, or the set cannot be sent: no other renderer would do better.
          call.release(&batch, failed->error);
          return;
        case PrepareFailure::kStart:
          if (++failedStarts >= kStartAttempts) {
            call.release(&batch, Error(ErrorKind::kStartFailed, codes::kStartFailed,
                                       failed->error.describe()));
            return;
          }
          break;
        case PrepareFailure::kDied:
          // It started, so it is a death, not a failed start; with no fonts owed nobody is blamed.
          if (++registrationDeaths >= kRegistrationDeaths) {
            call.release(&batch, Error(ErrorKind::kStartFailed, codes::kStartFailed,
                                       "renderers kept dying while the font set was registered: " +
                                           failed->error.describe()));
            return;
          }
          break;
      }
      call.release(&batch);
      continue;
    }
    failedStarts = 0;
    registrationDeaths = 0;
    // What this renderer has not resolved yet decides how much of the batch it takes now; the rest
    // goes back to the queue for whichever worker comes next.
    const size_t take = fontsWithinNewFaces(batch, options_.newFacesPerBatch, [&](size_t index) {
      return session.knows(call.request->fontIds[index]);
    });
    if (take < batch.size()) {
      std::lock_guard lock(call.mutex);
      call.queue.emplace_front(batch.begin() + static_cast<ptrdiff_t>(take), batch.end());
      batch.resize(take);
      call.changed.notify_all();
    }
    runBatch(session, call, batch);
  }
  // A cancelled request's leftovers must not be answered: raise the generation on this renderer.
  if (epoch_ != call.epoch) session.skipGeneration(call.generation);
}

void PreviewService::runBatch(RendererSession& session, Call& call,
                              const std::vector<size_t>& batch) {
  const PreviewRequest& request = *call.request;
  LayoutRequest layout;
  {
    std::lock_guard lock(stateMutex_);
    layout.requestId = ++nextRequestId_;
  }
  layout.generation = call.generation;
  static_cast<LayoutParameters&>(layout) = request;
  for (size_t index : batch) layout.fontIds.push_back(request.fontIds[index]);

  Delivery delivery(*this, call, batch);
  const BatchReport report = session.run(call.isRender, layout, delivery);
  std::vector<size_t> owed(batch.begin() + static_cast<ptrdiff_t>(report.answered), batch.end());

  switch (report.end) {
    case BatchEnd::kDone:
    case BatchEnd::kCancelled:
      call.release(nullptr);
      return;
    case BatchEnd::kUnsendable:
      // The same request cannot be sent to any renderer: the request fails at once.
      call.release(nullptr, report.error);
      return;
    case BatchEnd::kReplyDropped: {
      // Only a batch whose reply outgrew the limit loses it: halve it, or give up on a font whose
      // result alone is too large.
      if (owed.size() == 1) {
        call.failFont(owed.front(), kReplyTooLargeError);
        call.release(nullptr);
        return;
      }
      const auto middle = owed.begin() + static_cast<ptrdiff_t>(owed.size() / 2);
      std::vector<size_t> first(owed.begin(), middle), second(middle, owed.end());
      {
        std::lock_guard lock(call.mutex);
        call.queue.push_front(std::move(second));
      }
      call.release(&first);
      return;
    }
    case BatchEnd::kDied:
      break;
  }
  if (owed.empty()) {
    call.release(nullptr);
    return;
  }
  AfterDeath plan;
  {
    std::lock_guard lock(call.mutex);
    plan = planAfterDeath(call.isRender, report.memoryExit, std::move(owed), call.strikes,
                          kStrikesToFail);
    for (auto retry = plan.retry.rbegin(); retry != plan.retry.rend(); ++retry) {
      call.queue.push_front(std::move(*retry));
    }
  }
  // Delivered before the batch is released, so that no worker sees its fonts unaccounted for.
  if (plan.givenUp) call.failFont(*plan.givenUp, kRendererCrashedError);
  call.release(nullptr);
}

}  // namespace kfp::client
