// The preview service against a scripted fake renderer that plays one fault at a time: replies
// that are malformed, mismatched or doubled, renderers that crash, exit, stop reading or cannot
// start, a cancel in the middle of a Measure, requests that cannot be sent, and callbacks that call
// back into the service. Each case says what the host sees.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "json_value.h"
#include "preview_service.h"
#include "protocol/message_types.h"
#include "testing/client_testing.h"

namespace kfp::client {
namespace {

using Clock = std::chrono::steady_clock;

// A scratch directory for one fake renderer's start count and frame log.
class Scratch {
 public:
  Scratch() {
    char path[] = "/tmp/kfp-fake-XXXXXX";
    dir_ = ::mkdtemp(path) ? path : "";
  }
  ~Scratch() { std::filesystem::remove_all(dir_); }
  std::string state() const { return dir_ + "/state"; }
  std::string log() const { return dir_ + "/log"; }

  // The frames the fake renderers received, as (type, JSON text), in order.
  std::vector<std::pair<int, std::string>> frames() const {
    std::vector<std::pair<int, std::string>> out;
    std::ifstream in(log());
    for (std::string line; std::getline(in, line);) {
      const size_t space = line.find(' ');
      out.emplace_back(std::stoi(line.substr(0, space)), line.substr(space + 1));
    }
    return out;
  }

 private:
  std::string dir_;
};

struct Script {
  std::string fault = "none";
  std::string font;
  int faultyStarts = -1;  // every start
  int slowMs = 0;
};

PreviewServiceOptions fakeOptions(const Scratch& scratch, const Script& script) {
  PreviewServiceOptions options;
  options.rendererPath = KFP_SCRIPTED_RENDERER_PATH;
  options.extraArgs = {"--state", scratch.state(), "--log", scratch.log()};
  if (script.faultyStarts >= 0) {
    options.extraArgs.insert(options.extraArgs.end(),
                             {"--faulty-starts", std::to_string(script.faultyStarts)});
  }
  if (script.slowMs > 0) {
    options.extraArgs.insert(options.extraArgs.end(), {"--slow", std::to_string(script.slowMs)});
  }
  options.extraArgs.push_back(script.fault);
  if (!script.font.empty()) options.extraArgs.push_back(script.font);
  options.workers = 1;
  options.replyTimeout = Milliseconds(20000);
  return options;
}

std::vector<FontDescriptor> fontsNamed(size_t count) {
  std::vector<FontDescriptor> fonts;
  for (size_t i = 0; i < count; ++i) {
    FontDescriptor font;
    font.fontId.push_back('f');
    font.fontId += std::to_string(i);
    fonts.push_back(std::move(font));
  }
  return fonts;
}

PreviewRequest requestFor(const std::vector<FontDescriptor>& fonts) {
  PreviewRequest request;
  request.layoutKey = "k";
  request.text = "Hamburgefonstiv";
  for (const auto& font : fonts) request.fontIds.push_back(font.fontId);
  return request;
}

// One call's per-font results, whatever their type.
struct Results {
  std::vector<int> counts;
  std::vector<std::string> errors;
  std::vector<std::string> wrongIds;

  explicit Results(size_t n) : counts(n), errors(n) {}
  void add(const PreviewRequest& request, size_t index, const std::string& fontId,
           const std::string& error) {
    ++counts[index];
    errors[index] = error;
    if (fontId != request.fontIds[index]) wrongIds.push_back(fontId);
  }
};

// Measures or renders `request`, every result into `results`.
Status runOn(PreviewService& service, bool isRender, const PreviewRequest& request,
             Results& results) {
  if (isRender) {
    auto done = service.render(
        request, [&](size_t i, RenderResult&& r) { results.add(request, i, r.fontId, r.error); });
    return done ? Status() : Status(done.error());
  }
  auto done = service.measure(request, [&](size_t i, MeasureItem&& item) {
    results.add(request, i, item.fontId, item.error);
  });
  return done ? Status() : Status(done.error());
}

std::vector<size_t> fontCounts(const Scratch& scratch, int type, const char* key) {
  std::vector<size_t> counts;
  for (const auto& [frameType, json] : scratch.frames()) {
    if (frameType != type) continue;
    auto root = parseJson(json);
    const JsonValue* list = root ? root->find(key) : nullptr;
    counts.push_back(list ? list->elements().size() : 0);
  }
  return counts;
}

bool reaped(int pid) {
  int status = 0;
  return ::waitpid(pid, &status, WNOHANG) < 0 && errno == ECHILD;
}

TEST(PreviewServiceFaultTest, AReplyThatBreaksTheProtocolReplacesTheRendererAndLosesNothing) {
  const char* const faults[] = {"garbage",          "wrong-request-id", "wrong-font-id",
                                "unexpected-frame", "undecodable",      "double-answer",
                                "short-answer"};
  for (const char* fault : faults) {
    for (const bool isRender : {false, true}) {
      SCOPED_TRACE(std::string(fault) + (isRender ? " render" : " measure"));
      Scratch scratch;
      auto options = fakeOptions(scratch, {.fault = fault, .faultyStarts = 1});
      options.measureBatch = options.renderBatch = 3;
      PreviewService service(options);
      const auto fonts = fontsNamed(6);
      service.setFonts(fonts);
      const PreviewRequest request = requestFor(fonts);
      Results results(fonts.size());
      const auto start = Clock::now();
      const Status done = runOn(service, isRender, request, results);
      if (!done) {
        ADD_FAILURE() << done.error();
        continue;
      }
      // A protocol fault ends the renderer at once, rather than giving it the while a renderer
      // whose output ended gets to exit by itself (2 s), or the reply timeout (20 s).
      EXPECT_LT(Clock::now() - start, Milliseconds(1900));
      EXPECT_EQ(results.counts, std::vector<int>(fonts.size(), 1));
      EXPECT_EQ(results.errors, std::vector<std::string>(fonts.size()));
      EXPECT_TRUE(results.wrongIds.empty()) << results.wrongIds.front();
      EXPECT_EQ(service.stats().rendererRestarts, 1u);
    }
  }
}

TEST(PreviewServiceFaultTest, DeathsStartsAndRefusals) {
  struct Case {
    const char* name;
    Script script;
    bool isRender;
    // The call's failure code, or empty for success.
    std::string_view failure;
    // The font that must come back RENDERER_CRASHED, or -1 for every font resolved.
    int crashed;
    uint64_t starts;
  } const cases[] = {
      {"a font that crashes every renderer is given up after two strikes",
       {.fault = "crash", .font = "f1"},
       true,
       {},
       1,
       3},
      {"a Measure batch is halved down to the crashing font, which then gets two strikes",
       {.fault = "crash", .font = "f1"},
       false,
       {},
       1,
       5},
      {"an exit for memory blames no font, however often",
       {.fault = "memory-exit", .font = "f1", .faultyStarts = 2},
       true,
       {},
       -1,
       3},
      {"a renderer that never starts fails the request after three attempts",
       {.fault = "exit-at-start"},
       true,
       codes::kStartFailed,
       -1,
       3},
      {"renderers that die while registering are deaths, not failed starts",
       {.fault = "die-registering", .faultyStarts = 3},
       true,
       {},
       -1,
       4},
      {"renderers that always die while registering end the request",
       {.fault = "die-registering"},
       false,
       codes::kStartFailed,
       -1,
       8},
      {"a font set the renderer refuses fails the request with its code",
       {.fault = "refuse-fonts"},
       false,
       errors::kInvalidFontCount,
       -1,
       1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Scratch scratch;
    auto options = fakeOptions(scratch, c.script);
    options.measureBatch = options.renderBatch = 4;
    PreviewService service(options);
    const auto fonts = fontsNamed(4);
    service.setFonts(fonts);
    const PreviewRequest request = requestFor(fonts);
    Results results(fonts.size());
    const Status done = runOn(service, c.isRender, request, results);
    EXPECT_EQ(service.stats().rendererStarts, c.starts);
    if (!c.failure.empty()) {
      EXPECT_FALSE(done);
      if (!done) {
        EXPECT_EQ(done.error().code(), c.failure) << done.error();
      }
      continue;
    }
    if (!done) {
      ADD_FAILURE() << done.error();
      continue;
    }
    EXPECT_EQ(results.counts, std::vector<int>(fonts.size(), 1));
    for (size_t i = 0; i < fonts.size(); ++i) {
      EXPECT_EQ(results.errors[i], int(i) == c.crashed ? kRendererCrashedError : "") << i;
    }
  }
}

TEST(PreviewServiceFaultTest, ARendererThatStopsReadingIsKilledAndReaped) {
  Scratch scratch;
  auto options = fakeOptions(scratch, {.fault = "close-input", .faultyStarts = 1});
  options.renderBatch = 2;
  PreviewService service(options);
  const auto fonts = fontsNamed(4);
  service.setFonts(fonts);
  int firstPid = 0;
  const PreviewRequest request = requestFor(fonts);
  Results results(fonts.size());
  auto done = service.render(request, [&](size_t i, RenderResult&& r) {
    if (firstPid == 0) firstPid = testing::TestAccess::rendererPids(service)[0];
    results.add(request, i, r.fontId, r.error);
  });
  ASSERT_TRUE(done) << done.error();
  EXPECT_EQ(results.counts, std::vector<int>(fonts.size(), 1));
  ASSERT_GT(firstPid, 0);
  // It closed its input but kept running: the failed write must not leave it behind.
  EXPECT_TRUE(reaped(firstPid));
  EXPECT_EQ(service.stats().rendererRestarts, 1u);
}

TEST(PreviewServiceFaultTest, ACancelledMeasureLeavesTheStreamInStep) {
  Scratch scratch;
  PreviewService service(fakeOptions(scratch, {.slowMs = 300}));
  const auto fonts = fontsNamed(2);
  service.setFonts(fonts);
  const PreviewRequest request = requestFor(fonts);
  std::optional<Outcome<std::vector<MeasureItem>>> cancelled;
  std::thread running([&] { cancelled = service.measure(request); });
  // Cancel while the renderer sits on the Measure, its Ping already sent.
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (fontCounts(scratch, kMeasure, "fontIds").empty() && Clock::now() < deadline) {
    std::this_thread::sleep_for(Milliseconds(5));
  }
  service.cancel();
  running.join();
  ASSERT_TRUE(cancelled && !*cancelled);
  EXPECT_EQ(cancelled->error().kind(), ErrorKind::kCancelled);

  // The same renderer answers the next requests as if nothing had happened.
  for (int round = 0; round < 2; ++round) {
    auto next = service.measure(request);
    ASSERT_TRUE(next) << next.error();
    for (const auto& item : *next) EXPECT_TRUE(item.resolved) << item.fontId << " " << item.error;
  }
  EXPECT_EQ(service.stats().rendererStarts, 1u);

  // The renderer was told that the cancelled generation is over before the stream was brought
  // back in step: Measure, its Ping, SetGeneration with the Measure's generation, a Ping.
  const auto frames = scratch.frames();
  auto measure = std::find_if(frames.begin(), frames.end(),
                              [](const auto& frame) { return frame.first == kMeasure; });
  ASSERT_GE(frames.end() - measure, 4);
  const auto generation = parseJson(measure->second)->unsignedAt("generation");
  EXPECT_EQ(measure[1].first, kPing);
  EXPECT_EQ(measure[2].first, kSetGeneration);
  EXPECT_EQ(parseJson(measure[2].second)->unsignedAt("generation"), generation);
  EXPECT_EQ(measure[3].first, kPing);
}

TEST(PreviewServiceFaultTest, MeasureAndRenderBatchesFollowTheirOwnSizes) {
  Scratch scratch;
  auto options = fakeOptions(scratch, {});
  options.measureBatch = 3;
  options.renderBatch = 2;
  PreviewService service(options);
  const auto fonts = fontsNamed(6);
  service.setFonts(fonts);
  ASSERT_TRUE(service.measure(requestFor(fonts)));
  ASSERT_TRUE(service.render(requestFor(fonts)));
  EXPECT_EQ(fontCounts(scratch, kMeasure, "fontIds"), (std::vector<size_t>{3, 3}));
  EXPECT_EQ(fontCounts(scratch, kRender, "fontIds"), (std::vector<size_t>{2, 2, 2}));
}

TEST(PreviewServiceFaultTest, ARequestTooLargeToSendFailsAtOnceAndBlamesNoRenderer) {
  Scratch scratch;
  // Two workers and a batch per font: the failure must be set before the batch is given back, or
  // the other worker finds fonts without a batch and fails the request as an internal error.
  auto options = fakeOptions(scratch, {});
  options.workers = 2;
  options.measureBatch = options.renderBatch = 1;
  PreviewService service(options);
  const auto fonts = fontsNamed(3);
  service.setFonts(fonts);
  PreviewRequest request = requestFor(fonts);
  request.text.assign(9u << 20, 'x');  // beyond the 8 MiB of JSON text a frame may carry
  for (const bool isRender : {false, true}) {
    SCOPED_TRACE(isRender ? "render" : "measure");
    Results results(fonts.size());
    const Status done = runOn(service, isRender, request, results);
    ASSERT_FALSE(done);
    EXPECT_EQ(done.error().kind(), ErrorKind::kInvalidRequest);
    EXPECT_EQ(done.error().code(), codes::kRequestTooLarge);
    EXPECT_EQ(results.counts, std::vector<int>(fonts.size(), 0));
  }
  // The renderers got nothing of it and answer the next request.
  EXPECT_TRUE(service.measure(requestFor(fonts)));
  EXPECT_EQ(service.stats().rendererRestarts, 0u);

  // A font set that cannot be sent fails the request the same way.
  auto tooLarge = fonts;
  tooLarge[1].familyName.assign(9u << 20, 'n');
  service.setFonts(tooLarge);
  auto refused = service.measure(requestFor(fonts));
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().code(), codes::kRequestTooLarge) << refused.error();
  EXPECT_EQ(service.stats().rendererRestarts, 0u);

  // The low-level client refuses it the same way, without a byte on the stream.
  auto client = Client::start({KFP_SCRIPTED_RENDERER_PATH, {}, Milliseconds(20000)});
  ASSERT_TRUE(client) << client.error();
  LayoutRequest layout;
  layout.text = request.text;
  layout.fontIds = {"f0"};
  const Status sent = (*client)->measure(layout);
  ASSERT_FALSE(sent);
  EXPECT_EQ(sent.error().code(), codes::kRequestTooLarge);
  ASSERT_TRUE((*client)->ping());
  Frame pong;
  ASSERT_EQ((*client)->receive(pong), ReadStatus::kFrame);
  EXPECT_EQ(pong.type, kPong);
}

TEST(PreviewServiceFaultTest, CallsFromAResultCallbackThatWouldWaitForItFailWithACode) {
  struct Case {
    const char* call;
    std::function<Status(PreviewService&, const PreviewRequest&)> make;
  } const cases[] = {
      {"measure",
       [](PreviewService& s, const PreviewRequest& r) {
         auto o = s.measure(r);
         return o ? Status() : Status(o.error());
       }},
      {"render",
       [](PreviewService& s, const PreviewRequest& r) {
         auto o = s.render(r);
         return o ? Status() : Status(o.error());
       }},
      {"clearCache", [](PreviewService& s, const PreviewRequest&) { return s.clearCache(); }},
      {"shutdown", [](PreviewService& s, const PreviewRequest&) { return s.shutdown(); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.call);
    Scratch scratch;
    auto options = fakeOptions(scratch, {});
    options.renderBatch = 1;
    PreviewService service(options);
    const auto fonts = fontsNamed(3);
    service.setFonts(fonts);
    const PreviewRequest request = requestFor(fonts);
    std::optional<Status> inner;
    size_t delivered = 0;
    auto outer = service.render(request, [&](size_t, RenderResult&&) {
      ++delivered;
      if (!inner) inner = c.make(service, request);
    });
    // The outer request goes on to its end; the call made from its callback is refused.
    ASSERT_TRUE(outer) << outer.error();
    EXPECT_EQ(delivered, fonts.size());
    ASSERT_TRUE(inner && !*inner);
    EXPECT_EQ(inner->error().kind(), ErrorKind::kInvalidRequest);
    EXPECT_EQ(inner->error().code(), codes::kCalledFromCallback);
    // Outside a callback the same call works.
    EXPECT_TRUE(c.make(service, request));
  }
}

TEST(PreviewServiceFaultTest, AnotherServiceUsedFromACallbackLeavesTheCallbackMarked) {
  Scratch outerScratch, innerScratch;
  PreviewService outer(fakeOptions(outerScratch, {}));
  PreviewService inner(fakeOptions(innerScratch, {}));
  const auto fonts = fontsNamed(2);
  outer.setFonts(fonts);
  inner.setFonts(fonts);
  const PreviewRequest request = requestFor(fonts);
  std::optional<bool> innerDone;
  std::optional<Status> again;
  auto done = outer.measure(request, [&](size_t, MeasureItem&&) {
    if (innerDone) return;
    // Another service is free to use from here, and its callbacks do not unmark this one.
    innerDone = inner.measure(request, [](size_t, MeasureItem&&) {}).ok();
    again = outer.clearCache();
  });
  ASSERT_TRUE(done) << done.error();
  EXPECT_EQ(innerDone, true);
  ASSERT_TRUE(again && !*again);
  EXPECT_EQ(again->error().code(), codes::kCalledFromCallback);
}

TEST(PreviewServiceFaultTest, OptionsOutsideTheirRangeAreClamped) {
  Scratch scratch;
  auto options = fakeOptions(scratch, {});
  options.registrationChunk = 1000;
  options.measureBatch = 0;
  options.renderBatch = 0;
  options.replyTimeout = Milliseconds(-5);
  PreviewService service(options);
  EXPECT_EQ(service.options().registrationChunk, kMaxRegistrationChunk);
  EXPECT_EQ(service.options().measureBatch, 1u);
  EXPECT_EQ(service.options().renderBatch, 1u);
  EXPECT_GT(service.options().replyTimeout, Milliseconds(0));
  const auto fonts = fontsNamed(600);
  service.setFonts(fonts);
  PreviewRequest request = requestFor(fonts);
  request.fontIds.resize(2);
  ASSERT_TRUE(service.measure(request));
  EXPECT_EQ(fontCounts(scratch, kFontChunk, "fonts"), (std::vector<size_t>{250, 250, 100}));
  EXPECT_EQ(fontCounts(scratch, kMeasure, "fontIds"), (std::vector<size_t>{1, 1}));
}

TEST(PreviewServiceFaultTest, BatchesCarryFewFontsTheRendererHasNotResolvedYet) {
  Scratch scratch;
  auto options = fakeOptions(scratch, {});
  options.measureBatch = options.renderBatch = 10;
  options.newFacesPerBatch = 2;
  PreviewService service(options);
  const auto fonts = fontsNamed(5);
  service.setFonts(fonts);
  const PreviewRequest request = requestFor(fonts);
  ASSERT_TRUE(service.measure(request));  // all new: two at a time
  ASSERT_TRUE(service.render(request));   // all resolved already: one batch
  ASSERT_TRUE(service.clearCache());
  ASSERT_TRUE(service.measure(request));  // forgotten again
  EXPECT_EQ(fontCounts(scratch, kMeasure, "fontIds"), (std::vector<size_t>{2, 2, 1, 2, 2, 1}));
  EXPECT_EQ(fontCounts(scratch, kRender, "fontIds"), (std::vector<size_t>{5}));
}

}  // namespace
}  // namespace kfp::client
