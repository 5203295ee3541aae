#pragma once
// One renderer of the preview service's pool and the conversation with it: start and greet it,
// register the font set, send one batch and read its replies, bring the stream back in step after
// a cancel, and end it after a death. Which fonts to retry, and when to give up, is the
// scheduler's business (preview_service.cpp); a session only reports how a batch ended.
//
// A session is used by one worker thread at a time; only pid() may be read from any thread.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "kfp_client.h"
#include "outcome.h"
#include "replies.h"
#include "requests.h"

namespace kfp::client {

struct SessionOptions {
  std::string rendererPath;
  std::vector<std::string> extraArgs;
  Milliseconds replyTimeout{10000};
  size_t registrationChunk = 250;
};

// Where a session hands a batch's results, and how it learns that the request was cancelled.
class BatchReceiver {
 public:
  virtual bool cancelled() const = 0;
  // The result for the batch's `k`-th font; false when the request was cancelled meanwhile, and
  // then nothing was delivered.
  virtual bool deliver(size_t k, MeasureItem& item) = 0;
  virtual bool deliver(size_t k, RenderResult& result) = 0;

 protected:
  ~BatchReceiver() = default;
};

enum class BatchEnd {
  kDone,          // every font of the batch was delivered
  kReplyDropped,  // the Measure's Pong came first: the MeasureResult outgrew the reply limit
  kCancelled,     // the request was cancelled; the stream is back in step or the renderer ended
  kDied,          // the renderer ended, hung or broke the protocol; it is ended now
  kUnsendable,    // the request cannot be sent at all; `error` says why
};

struct BatchReport {
  BatchEnd end = BatchEnd::kDone;
  // How many of the batch's first fonts have their result; the others are owed.
  size_t answered = 0;
  // kDied: the renderer went over its memory limit (FatalError MEMORY_HARD_LIMIT or exit 75).
  bool memoryExit = false;
  std::optional<Error> error;
};

// How preparing a renderer failed.
enum class PrepareFailure {
  kStart,    // it could not be started or did not greet: counts against the start attempts
  kRefused,  // it refused the font set, or the set cannot be sent: any renderer would
  kDied,     // it started and then died, hung or broke the protocol while registering
};

class RendererSession {
 public:
  explicit RendererSession(const SessionOptions& options) : options_(options) {}

  bool running() const { return client_ != nullptr; }
  int pid() const { return pid_.load(); }

  struct Prepared {
    PrepareFailure failure;
    Error error;
  };
  // Which process starts prepare() made: `started` when it started one, `replaced` when that
  // process took the place of an earlier one.
  struct Starts {
    bool started = false;
    bool replaced = false;
  };
  // Starts and greets a renderer if none is running, and registers `fonts` on it unless `version`
  // is registered already.
  std::optional<Prepared> prepare(const std::vector<FontDescriptor>& fonts, uint64_t version,
                                  Starts& starts);

  // Sends one batch (`layout` carries its font ids, request id and generation) and reads its
  // replies, handing each result to `receiver`.
  BatchReport run(bool isRender, const LayoutRequest& layout, BatchReceiver& receiver);

  // Whether this renderer has answered for `fontId` since it started, registered its current set
  // or cleared its cache. A renderer whose memory guard cleared its cache by itself has forgotten
  // more than this says; batch sizes still bound what that costs.
  bool knows(const std::string& fontId) const { return answered_.count(fontId) != 0; }

  // Tells the renderer that `generation` is cancelled, so it skips what it still has queued.
  void skipGeneration(uint64_t generation);
  void clearCache();
  // Shutdown, then a kill at the deadline; reaped either way.
  void stop(Milliseconds timeout);
  // Kills and reaps the renderer, if any.
  void end();

 private:
  std::optional<Prepared> greet(Starts& starts);
  // After a cancel: SetGeneration, a Ping, and every frame up to the last Pong owed thrown away.
  // A renderer that does not get there is ended.
  void resync(uint64_t generation);
  // The renderer is gone or must go: a protocol fault kills it at once; otherwise it has a short
  // while to exit by itself, so that its exit code can tell a memory exit. Then it is reaped.
  BatchReport died(BatchReport report, bool atOnce);

  SessionOptions options_;
  std::unique_ptr<Client> client_;
  std::atomic<int> pid_{0};
  bool everStarted_ = false;
  uint64_t registeredVersion_ = 0;
  std::unordered_set<std::string> answered_;
  // Pings sent whose Pong has not been read yet. Every Measure is followed by a Ping, so a resync
  // after a cancelled Measure owes two.
  int pongsOwed_ = 0;
};

}  // namespace kfp::client
