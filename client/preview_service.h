#pragma once
// The preview service: what a host embeds to have fonts measured and rendered by a pool of
// renderer processes. It starts the renderers when first needed, registers the host's fonts on each
// of them, spreads every request over them by font, replaces a renderer that exits, crashes or
// hangs (re-registering the fonts and re-issuing what it still owed), and lets a new request
// supersede the running one.
//
// Calls may come from any thread. One request runs at a time: a new measure() or render()
// cancels the running one first (latest wins) and starts when it has returned. Per-font results
// are handed to the callback, one at a time, from the service's worker threads.
//
// Failures follow outcome.h. A call fails with
//  - CANCELLED (kCancelled) when a newer request or cancel() superseded it;
//  - the renderer's code (kRendererError) when a renderer refused the font set;
//  - RENDERER_START_FAILED (kStartFailed) when no renderer could be started three times running,
//    or renderers kept dying while the font set was registered;
//  - REQUEST_TOO_LARGE (kInvalidRequest) when the request does not fit in a frame;
//  - CALLED_FROM_CALLBACK (kInvalidRequest) for measure(), render(), clearCache() or shutdown()
//    called from a result callback: each would wait for the request that runs the callback.
//    A callback may call cancel(), setFonts(), stats() and options();
//  - INTERNAL (kInternal) for a fault of the service's own bookkeeping.
// A renderer that dies, hangs or breaks the protocol does not fail the call: it is replaced and
// its fonts are retried, and a font that ended two renderers gets RENDERER_CRASHED.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "kfp_client.h"
#include "outcome.h"
#include "replies.h"
#include "requests.h"

namespace kfp::client {

class RendererSession;

struct PreviewServiceOptions {
  std::string rendererPath;
  std::vector<std::string> extraArgs;
  size_t workers = 0;  // 0: one per core
  // How long a renderer may take for one reply (a MeasureResult, one RenderResult, a registration
  // step) before it counts as hung, is killed and replaced.
  Milliseconds replyTimeout{10000};
  // Fonts per request sent to one renderer; smaller batches spread the work more evenly and lose
  // less when a renderer dies, larger ones cost fewer round trips. Measure batches are cut further
  // so that no MeasureResult can exceed the reply limit. 0 is taken as 1.
  size_t measureBatch = 256;
  size_t renderBatch = 32;
  // At most this many fonts per batch that its renderer has not resolved yet: each costs it memory
  // (tens of KiB per face, more with glyph caches) within one frame, and a frame must not take a
  // renderer from its soft memory limit over its hard one. 0 is taken as 1.
  size_t newFacesPerBatch = 512;
  // Fonts per FontChunk while a set is registered; clamped to 1..kMaxRegistrationChunk.
  size_t registrationChunk = 250;
};

// The most fonts a renderer takes in one FontChunk.
inline constexpr size_t kMaxRegistrationChunk = 250;

// What one preview request asks for; the service fills in the request id and the generation.
struct PreviewRequest : LayoutParameters {
  std::vector<std::string> fontIds;
};

// The error code of a font given up on because it ended a renderer twice in a row.
inline constexpr const char* kRendererCrashedError = "RENDERER_CRASHED";
// The error code of a font whose MeasureResult alone exceeds the reply limit.
inline constexpr const char* kReplyTooLargeError = "REPLY_TOO_LARGE";

// `index` is the font's position in PreviewRequest::fontIds.
using MeasureCallback = std::function<void(size_t index, MeasureItem&& item)>;
using RenderCallback = std::function<void(size_t index, RenderResult&& result)>;

struct PreviewServiceStats {
  uint64_t rendererStarts = 0;    // every start, first ones included
  uint64_t rendererRestarts = 0;  // starts that replaced a renderer which exited, crashed or hung
};

class PreviewService {
 public:
  explicit PreviewService(PreviewServiceOptions options);
  ~PreviewService();  // shutdown()

  PreviewService(const PreviewService&) = delete;
  PreviewService& operator=(const PreviewService&) = delete;

  // The font set every renderer gets, kept to register again on renderers started later. Takes
  // effect for the next request; it does not start a renderer.
  void setFonts(std::vector<FontDescriptor> fonts);

  // One result per font of the request. With a callback, each result goes to it as it arrives and
  // the returned list is empty; without one, the list holds every result in request order. Fails
  // as listed above; results already handed to the callback stay valid.
  Outcome<std::vector<MeasureItem>> measure(const PreviewRequest& request,
                                            const MeasureCallback& onItem = {});
  Outcome<std::vector<RenderResult>> render(const PreviewRequest& request,
                                            const RenderCallback& onResult = {});

  // Supersedes the running request, if any: every renderer is told to skip its remaining work, and
  // once cancel() returns no result of that request reaches a callback. The request fails with
  // CANCELLED. Safe to call from a callback.
  void cancel();

  // Drops every renderer's resolved-font cache.
  Status clearCache();

  // Ends every renderer (Shutdown, then a kill if it does not exit) and reaps it. Later requests
  // start renderers again.
  Status shutdown();

  size_t workerCount() const { return workerCount_; }
  // The options as the service uses them, after clamping.
  const PreviewServiceOptions& options() const { return options_; }
  PreviewServiceStats stats() const;

 private:
  friend class testing::TestAccess;
  struct Call;
  class Delivery;
  template <typename Result, typename Callback>
  Outcome<std::vector<Result>> run(bool isRender, const PreviewRequest& request,
                                   const Callback& onResult);
  void workOn(RendererSession& session, Call& call);
  void runBatch(RendererSession& session, Call& call, const std::vector<size_t>& batch);
  bool deliver(Call& call, size_t index, void* result);
  void finishFont(Call& call);
  // True on a thread that is running one of this service's result callbacks.
  bool inCallback() const;
  // The current font set and its version.
  std::pair<std::shared_ptr<const std::vector<FontDescriptor>>, uint64_t> fontSet() const;
  // The process ids of the running renderers (0 for a slot not started).
  std::vector<int> rendererPids() const;

  PreviewServiceOptions options_;
  size_t workerCount_;
  std::vector<std::unique_ptr<RendererSession>> sessions_;

  std::mutex callMutex_;  // one request at a time
  // Guards delivery to callbacks, so that cancel() can shut it off at a precise moment.
  std::recursive_mutex deliveryMutex_;
  std::atomic<uint64_t> epoch_{0};  // raised by every cancel
  Call* current_ = nullptr;         // guarded by deliveryMutex_

  mutable std::mutex stateMutex_;  // fonts, stats, generation
  // Shared with the workers registering it, so that a batch costs no copy of the set.
  std::shared_ptr<const std::vector<FontDescriptor>> fonts_ =
      std::make_shared<const std::vector<FontDescriptor>>();
  uint64_t fontSetVersion_ = 1;
  uint64_t generation_ = 0;
  uint64_t nextRequestId_ = 0;
  PreviewServiceStats stats_;
};

}  // namespace kfp::client
