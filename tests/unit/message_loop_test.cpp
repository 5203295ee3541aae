#include "host/message_loop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "protocol/frame.h"
#include "protocol/message_types.h"
#include "support/fake_backend.h"
#include "support/memory_stream.h"

namespace kfp {
namespace {

using testing::FakeBackend;
using testing::frameBytes;
using testing::MemoryReader;
using testing::MemoryWriter;

struct Reply {
  uint8_t type;
  std::string json;
  size_t payloadSize;
};

std::vector<Reply> decode(const std::string& bytes) {
  MemoryReader in(bytes);
  std::vector<Reply> replies;
  Frame frame;
  while (readFrame(in, frame)) replies.push_back({frame.type, frame.json, frame.payload.size()});
  return replies;
}

struct LoopRun {
  int exitCode;
  std::vector<Reply> replies;
};

LoopRun run(FakeBackend& backend, const std::string& input, size_t failWriteAfter = SIZE_MAX) {
  MemoryReader in(input);
  MemoryWriter out(failWriteAfter);
  const int code = runMessageLoop(backend, in, out);
  return {code, decode(out.data)};
}

const std::string kRegisterTwo =
    frameBytes(kRegisterFonts, R"({"fonts":[{"fontId":"a","familyName":"Fam"},{"fontId":"b"}]})");

struct Exchange {
  const char* name;
  std::string input;
  std::vector<std::pair<uint8_t, std::string>> replies;
  int exitCode = kExitOk;
};

TEST(MessageLoop, AnswersEachMessageAsCatalogued) {
  const std::string invalid = "{\"a\":";
  const Exchange cases[] = {
      {"end of input", "", {}},
      {"ping with empty json", frameBytes(kPing, ""), {{kPong, "{}"}}},
      {"hello",
       frameBytes(kHello, R"({"protocolVersion":1.9})"),
       {{kHelloAck, R"({"protocolVersion":1,"rendererVersion":"2","pixelFormat":"A8"})"}}},
      {"hello mismatch",
       frameBytes(kHello, R"({"protocolVersion":"1"})"),
       {{kError, R"({"error":"PROTOCOL_MISMATCH"})"}}},
      {"hello far out of range",
       frameBytes(kHello, R"({"protocolVersion":4294967297})"),
       {{kError, R"({"error":"PROTOCOL_MISMATCH"})"}}},
      {"invalid json on ping",
       frameBytes(kPing, invalid) + frameBytes(kPing, "{}"),
       {{kError, R"({"error":"INVALID_JSON"})"}, {kPong, "{}"}}},
      {"array root", frameBytes(kPing, "[]"), {{kError, R"({"error":"INVALID_JSON"})"}}},
      {"invalid json on shutdown keeps running",
       frameBytes(kShutdown, invalid) + frameBytes(kPing, ""),
       {{kError, R"({"error":"INVALID_JSON"})"}, {kPong, "{}"}}},
      {"shutdown stops reading", frameBytes(kShutdown, "") + frameBytes(kPing, ""), {}},
      {"unknown types",
       frameBytes(0, "{}") + frameBytes(kHelloAck, "") + frameBytes(200, "{}"),
       {{kError, R"({"error":"UNKNOWN_MESSAGE"})"},
        {kError, R"({"error":"UNKNOWN_MESSAGE"})"},
        {kError, R"({"error":"UNKNOWN_MESSAGE"})"}}},
      {"unknown type with invalid json",
       frameBytes(200, invalid),
       {{kError, R"({"error":"INVALID_JSON"})"}}},
      {"malformed frame ends the loop", frameBytes(kPing, "", "", 4) + frameBytes(kPing, ""), {}},
      {"register", kRegisterTwo, {{kFontsRegistered, R"({"fontCount":2})"}}},
      {"register without fonts",
       frameBytes(kRegisterFonts, "{}"),
       {{kError, R"({"error":"INVALID_FONT_LIST"})"}}},
      {"chunked registration",
       frameBytes(kBeginFonts, R"({"fontCount":3.0})") +
           frameBytes(kFontChunk, R"({"fonts":[{"fontId":"a"},{"fontId":"b"}]})") +
           frameBytes(kFontChunk, R"({"fonts":[{"fontId":"c"}]})") + frameBytes(kCommitFonts, ""),
       {{kBeginFontsAck, "{}"},
        {kFontChunkAck, R"({"receivedCount":2})"},
        {kFontChunkAck, R"({"receivedCount":3})"},
        {kFontsRegistered, R"({"fontCount":3})"}}},
      {"chunk without begin",
       frameBytes(kFontChunk, R"({"fonts":[]})") + frameBytes(kCommitFonts, ""),
       {{kError, R"({"error":"INVALID_FONT_CHUNK"})"},
        {kError, R"({"error":"INCOMPLETE_FONT_REGISTRATION"})"}}},
      {"bad font counts",
       frameBytes(kBeginFonts, R"({"fontCount":2.5})") + frameBytes(kBeginFonts, "{}") +
           frameBytes(kBeginFonts, R"({"fontCount":50001})"),
       {{kError, R"({"error":"INVALID_FONT_COUNT"})"},
        {kError, R"({"error":"INVALID_FONT_COUNT"})"},
        {kError, R"({"error":"INVALID_FONT_COUNT"})"}}},
      {"fonts not an array closes the registration",
       frameBytes(kBeginFonts, R"({"fontCount":1})") + frameBytes(kFontChunk, R"({"fonts":"x"})") +
           frameBytes(kFontChunk, R"({"fonts":[{"fontId":"a"}]})"),
       {{kBeginFontsAck, "{}"},
        {kError, R"({"error":"INVALID_FONT_LIST"})"},
        {kError, R"({"error":"INVALID_FONT_CHUNK"})"}}},
      {"stale measure is dropped",
       frameBytes(kMeasure, R"({"fontIds":["a"]})") +
           frameBytes(kMeasure, R"({"generation":0.5})") + frameBytes(kPing, ""),
       {{kPong, "{}"}}},
      {"measure echoes and reports per font",
       kRegisterTwo +
           frameBytes(kMeasure, R"({"requestId":42.9,"generation":1,"layoutKey":"k\u0001",
                                              "fontIds":["x","a",7,"a"]})"),
       {{kFontsRegistered, R"({"fontCount":2})"},
        {kMeasureResult, R"({"requestId":42,"generation":1,"layoutKey":"k\u0001","items":[)"
                         R"({"fontId":"x","resolved":false,"error":"FONT_NOT_REGISTERED"},)"
                         R"({"fontId":"a","resolved":false,"error":"FONT_NOT_FOUND"},)"
                         R"({"fontId":"a","resolved":false,"error":"FONT_NOT_FOUND"}]})"}}},
      {"set generation is a watermark",
       frameBytes(kSetGeneration, R"({"generation":7})") +
           frameBytes(kSetGeneration, R"({"generation":3})") +
           frameBytes(kMeasure, R"({"generation":7})") +
           frameBytes(kMeasure, R"({"generation":8,"requestId":-3})"),
       {{kMeasureResult, R"({"requestId":0,"generation":8,"layoutKey":"","items":[]})"}}},
      {"render without fonts writes nothing",
       frameBytes(kRender, R"({"generation":1})") + frameBytes(kPing, ""),
       {{kPong, "{}"}}},
      {"render reports each font",
       frameBytes(kRender, R"({"generation":1,"fontIds":["x","y"]})"),
       {{kRenderResult,
         R"({"requestId":0,"generation":1,"layoutKey":"","fontId":"x","resolved":false,"error":"FONT_NOT_REGISTERED"})"},
        {kRenderResult,
         R"({"requestId":0,"generation":1,"layoutKey":"","fontId":"y","resolved":false,"error":"FONT_NOT_REGISTERED"})"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeBackend backend;
    const LoopRun result = run(backend, c.input);
    EXPECT_EQ(result.exitCode, c.exitCode);
    ASSERT_EQ(result.replies.size(), c.replies.size());
    for (size_t i = 0; i < c.replies.size(); ++i) {
      EXPECT_EQ(result.replies[i].type, c.replies[i].first);
      EXPECT_EQ(result.replies[i].json, c.replies[i].second);
      EXPECT_EQ(result.replies[i].payloadSize, 0u);
    }
  }
}

TEST(MessageLoop, FailedInitializationIsReportedOnceWithoutReading) {
  for (int step = 0; step < 2; ++step) {
    SCOPED_TRACE(step);
    FakeBackend backend;
    (step == 0 ? backend.failTextEngine : backend.failGraphics) = true;
    const LoopRun result = run(backend, frameBytes(kPing, ""));
    EXPECT_EQ(result.exitCode, kExitInitializeFailed);
    ASSERT_EQ(result.replies.size(), 1u);
    EXPECT_EQ(result.replies[0].type, kError);
    EXPECT_EQ(result.replies[0].json, R"({"error":"INITIALIZE_FAILED"})");
  }
}

TEST(MessageLoop, ClearCacheMakesTheNextRequestResolveAgain) {
  const std::string measure = frameBytes(kMeasure, R"({"generation":1,"fontIds":["a"]})");
  const struct {
    const char* name;
    std::string between;
    int resolutions;
  } cases[] = {
      {"cached", "", 1},
      {"cleared", frameBytes(kClearCache, ""), 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeBackend backend;
    run(backend, kRegisterTwo + measure);
    const size_t lookups = backend.textEngine->systemFonts->propertyCalls.size();
    ASSERT_GT(lookups, 0u);
    backend.textEngine->systemFonts->propertyCalls.clear();
    run(backend, kRegisterTwo + measure + c.between + measure);
    EXPECT_EQ(backend.textEngine->systemFonts->propertyCalls.size(), lookups * c.resolutions);
  }
}

TEST(MessageLoop, AFailureOtherThanAPlatformErrorIsAnInternalError) {
  FakeBackend backend;
  backend.textEngine->systemFonts->throwOnMatch = true;
  const LoopRun result =
      run(backend, kRegisterTwo + frameBytes(kMeasure, R"({"generation":1,"fontIds":["a"]})") +
                       frameBytes(kPing, ""));
  ASSERT_EQ(result.replies.size(), 3u);
  EXPECT_EQ(result.replies[1].type, kError);
  EXPECT_EQ(result.replies[1].json, R"({"error":"INTERNAL_ERROR"})");
  EXPECT_EQ(result.replies[2].type, kPong);
}

TEST(MessageLoop, MemoryGuardRunsBeforeEachFrame) {
  struct Case {
    const char* name;
    uint64_t privateBytes;
    std::optional<uint64_t> afterRelease;  // unset: giving memory back does not lower the figure
    std::string input;
    int exitCode;
    std::vector<uint8_t> replyTypes;
    int releases;  // before judging a high figure, and after each cache clear
  };
  const Case cases[] = {
      {"below the soft limit", 100u << 20, {}, frameBytes(kPing, ""), kExitOk, {kPong}, 0},
      {"exactly the soft limit", 192u << 20, {}, frameBytes(kPing, ""), kExitOk, {kPong}, 0},
      {"above the soft limit",
       (192u << 20) + 1,
       {},
       frameBytes(kPing, "") + frameBytes(kPing, ""),
       kExitOk,
       {kPong, kPong},
       4},
      {"exactly the hard limit", 256u << 20, {}, frameBytes(kPing, ""), kExitOk, {kPong}, 2},
      {"above the hard limit, shutdown",
       (256u << 20) + 1,
       {},
       frameBytes(kShutdown, ""),
       kExitMemoryHardLimit,
       {kFatalError},
       1},
      {"above the hard limit, bad json",
       (256u << 20) + 1,
       {},
       frameBytes(kPing, "[") + frameBytes(kPing, ""),
       kExitMemoryHardLimit,
       {kFatalError},
       1},
      // Freed memory the allocator kept counts only until it is given back: no verdict, no clear.
      {"above the hard limit until freed memory is given back",
       (300u << 20),
       10u << 20,
       frameBytes(kPing, ""),
       kExitOk,
       {kPong},
       1},
      {"above the soft limit until freed memory is given back",
       (200u << 20),
       100u << 20,
       frameBytes(kPing, "") + frameBytes(kPing, ""),
       kExitOk,
       {kPong, kPong},
       1},
      {"still above the hard limit after giving memory back",
       (300u << 20),
       (256u << 20) + 1,
       frameBytes(kPing, ""),
       kExitMemoryHardLimit,
       {kFatalError},
       1},
      {"no frame, no verdict", uint64_t(1) << 40, {}, "", kExitOk, {}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeBackend backend;
    backend.privateBytesValue = c.privateBytes;
    backend.privateBytesAfterRelease = c.afterRelease;
    const LoopRun result = run(backend, c.input);
    EXPECT_EQ(result.exitCode, c.exitCode);
    ASSERT_EQ(result.replies.size(), c.replyTypes.size());
    for (size_t i = 0; i < c.replyTypes.size(); ++i) {
      EXPECT_EQ(result.replies[i].type, c.replyTypes[i]);
    }
    if (c.exitCode == kExitMemoryHardLimit) {
      EXPECT_EQ(result.replies[0].json, R"({"error":"MEMORY_HARD_LIMIT"})");
    }
    EXPECT_EQ(backend.releaseCount, c.releases);
  }
}

// A backend keeps open faces apart from the resolved fonts (a face pool): they go whenever the
// resolved fonts go, and only then.
TEST(MessageLoop, OpenFacesAreDroppedWithTheResolvedFonts) {
  const struct {
    const char* name;
    std::string input;
    uint64_t privateBytes;
    int drops;
  } cases[] = {
      {"ping", frameBytes(kPing, ""), 0, 0},
      {"ClearCache", frameBytes(kClearCache, ""), 0, 1},
      {"committed registration", kRegisterTwo, 0, 1},
      {"refused registration", frameBytes(kRegisterFonts, "{}"), 0, 0},
      {"registration, then ClearCache", kRegisterTwo + frameBytes(kClearCache, ""), 0, 2},
      {"the memory guard above the soft limit", frameBytes(kPing, ""), 200u << 20, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeBackend backend;
    backend.privateBytesValue = c.privateBytes;
    run(backend, c.input);
    EXPECT_EQ(backend.dropOpenFacesCount, c.drops);
  }
}

TEST(MessageLoop, FailedRenderWriteEndsTheProcessButOtherWritesDoNot) {
  FakeBackend backend;
  // Every write fails: Pong and MeasureResult are lost silently, a RenderResult ends the loop at
  // once, before the next font of the request is even looked up.
  const std::string input =
      frameBytes(
          kRegisterFonts,
          R"({"fonts":[{"fontId":"a","familyName":"FamA"},{"fontId":"b","familyName":"FamB"}]})") +
      frameBytes(kPing, "") + frameBytes(kMeasure, R"({"generation":1,"fontIds":["a"]})") +
      frameBytes(kRender, R"({"generation":1,"fontIds":["a","b"]})") + frameBytes(kPing, "");
  const LoopRun result = run(backend, input, 0);
  EXPECT_EQ(result.exitCode, kExitRenderWriteFailed);
  std::vector<std::u16string> looked;
  for (const auto& call : backend.textEngine->systemFonts->propertyCalls)
    looked.push_back(call.value);
  EXPECT_NE(std::find(looked.begin(), looked.end(), u"FamA"), looked.end());
  EXPECT_EQ(std::find(looked.begin(), looked.end(), u"FamB"), looked.end());
}

}  // namespace
}  // namespace kfp
