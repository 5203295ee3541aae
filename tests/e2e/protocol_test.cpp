// Message-level behaviour of the renderer, checked byte for byte against the real binary.

#include <gtest/gtest.h>

#include <thread>

#include "protocol/message_types.h"
#include "support/e2e_renderer.h"
#include "support/e2e_script.h"

namespace kfp::test {
namespace {

constexpr std::string_view kExpectedHelloAck =
    R"({"protocolVersion":1,"rendererVersion":"2","pixelFormat":"A8"})";

constexpr ExchangeCase kHelloCases[] = {
    {"version 1", R"(
      > Hello {"protocolVersion":1}
      < HelloAck {"protocolVersion":1,"rendererVersion":"2","pixelFormat":"A8"}
    )"},
    {"version 1.9 truncates to 1", R"(
      > Hello {"protocolVersion":1.9}
      < HelloAck {"protocolVersion":1,"rendererVersion":"2","pixelFormat":"A8"}
    )"},
    {"version written with an exponent", R"(
      > Hello {"protocolVersion":1e0}
      < HelloAck {"protocolVersion":1,"rendererVersion":"2","pixelFormat":"A8"}
    )"},
    {"version 2", R"(
      > Hello {"protocolVersion":2}
      < Error {"error":"PROTOCOL_MISMATCH"}
    )"},
    {"version 0.5", R"(
      > Hello {"protocolVersion":0.5}
      < Error {"error":"PROTOCOL_MISMATCH"}
    )"},
    {"version as a string", R"(
      > Hello {"protocolVersion":"1"}
      < Error {"error":"PROTOCOL_MISMATCH"}
    )"},
    {"version missing", R"(
      > Hello {}
      < Error {"error":"PROTOCOL_MISMATCH"}
    )"},
    {"empty JSON text", R"(
      > Hello
      < Error {"error":"PROTOCOL_MISMATCH"}
    )"},
    {"2^32 + 1 must not wrap around to 1", R"(
      > Hello {"protocolVersion":4294967297}
      < Error {"error":"PROTOCOL_MISMATCH"}
    )"},
    {"twice, two acknowledgements", R"(
      > Hello {"protocolVersion":1}
      > Hello {"protocolVersion":1}
      < HelloAck {"protocolVersion":1,"rendererVersion":"2","pixelFormat":"A8"}
      < HelloAck {"protocolVersion":1,"rendererVersion":"2","pixelFormat":"A8"}
    )"},
    {"a mismatch changes nothing", R"(
      > Hello {"protocolVersion":3}
      < Error {"error":"PROTOCOL_MISMATCH"}
      > Hello {"protocolVersion":1}
      < HelloAck {"protocolVersion":1,"rendererVersion":"2","pixelFormat":"A8"}
    )"},
};

TEST(HelloTest, Exchanges) {
  runExchanges(kRendererPath, kHelloCases);
}

constexpr ExchangeCase kLoopCases[] = {
    {"ping with empty JSON text", R"(
      > Ping
      < Pong {}
    )"},
    {"ping with members", R"(
      > Ping {"a":[1,{"b":null}],"c":"\u00e9"}
      < Pong {}
    )"},
    {"ping with an array is not answered with Pong", R"(
      > Ping []
      < Error {"error":"INVALID_JSON"}
      > Ping {}
      < Pong {}
    )"},
    {"ping with a truncated literal", R"(
      > Ping {"a":tru
      < Error {"error":"INVALID_JSON"}
    )"},
    {"ping with text after the object", R"(
      > Ping {}x
      < Error {"error":"INVALID_JSON"}
    )"},
    {"ping with a bare number", R"(
      > Ping 42
      < Error {"error":"INVALID_JSON"}
    )"},
    {"shutdown ends the process", R"(
      > Shutdown {}
      exit 0
    )"},
    {"shutdown with empty JSON text", R"(
      > Shutdown
      exit 0
    )"},
    {"frames after shutdown are not answered", R"(
      > Shutdown {}
      > Ping {}
      exit 0
    )"},
    {"shutdown that does not parse keeps the process running", R"(
      > Shutdown {
      < Error {"error":"INVALID_JSON"}
      > Ping
      < Pong {}
    )"},
    {"clear cache writes nothing", R"(
      > ClearCache {}
      > Ping
      < Pong {}
    )"},
    {"unknown type with invalid JSON reports the JSON", R"(
      > 200 nope
      < Error {"error":"INVALID_JSON"}
    )"},
};

TEST(MessageLoopTest, Exchanges) {
  runExchanges(kRendererPath, kLoopCases);
}

TEST(MessageLoopTest, UnknownTypesAreReportedAndTheLoopGoesOn) {
  // Reply types sent back to the renderer are unknown as requests, as is everything above 20.
  const uint8_t kUnknown[] = {0, 2, 4, 6, 8, 11, 13, 14, 17, 19, 21, 200, 255};
  RendererSession session(kRendererPath);
  ASSERT_TRUE(session.started());
  for (uint8_t type : kUnknown) {
    SCOPED_TRACE(int(type));
    session.send(type, "{}");
    EXPECT_TRUE(session.expectReply(kError, R"({"error":"UNKNOWN_MESSAGE"})"));
  }
  EXPECT_TRUE(session.expectNothingPending());
  EXPECT_TRUE(session.expectCleanEnd());
}

TEST(MessageLoopTest, InvalidJsonIsReportedForEveryType) {
  // The JSON text is parsed before dispatch, so no type, Shutdown included, escapes the check.
  RendererSession session(kRendererPath);
  ASSERT_TRUE(session.started());
  std::vector<uint8_t> types = {0, 200};
  for (uint8_t type = 1; type <= 20; ++type) types.push_back(type);
  const char* kBadTexts[] = {"{\"a\":", "[1]", "\"text\"", "{'a':1}", "{\"a\":1,}"};
  for (uint8_t type : types) {
    for (const char* text : kBadTexts) {
      SCOPED_TRACE(std::to_string(type) + " " + text);
      session.send(type, text);
      EXPECT_TRUE(session.expectError("INVALID_JSON"));
    }
  }
  EXPECT_TRUE(session.expectNothingPending());
  EXPECT_TRUE(session.expectCleanEnd());
}

// Requests name font ids that are not registered: every item is an error, so the replies are
// fixed texts whatever fonts are installed.
constexpr ExchangeCase kGenerationCases[] = {
    {"generation 1 on a fresh process is answered", R"(
      > Measure {"generation":1,"fontIds":["x"]}
      < MeasureResult {"requestId":0,"generation":1,"layoutKey":"","items":[{"fontId":"x","resolved":false,"error":"FONT_NOT_REGISTERED"}]}
    )"},
    {"stale generations get no reply at all", R"(
      > Measure {"generation":0,"fontIds":["x"]}
      > Measure {"generation":-1,"fontIds":["x"]}
      > Measure {"generation":0.5,"fontIds":["x"]}
      > Measure {"fontIds":["x"]}
      > Measure {"generation":"7","fontIds":["x"]}
      > Render {"generation":0,"fontIds":["x"]}
      > Ping
      < Pong {}
    )"},
    {"set generation drops requests up to the watermark", R"(
      > SetGeneration {"generation":5}
      > Measure {"requestId":1,"generation":5,"fontIds":["x"]}
      > Render {"requestId":2,"generation":5,"fontIds":["x"]}
      > Ping
      < Pong {}
      > Measure {"requestId":3,"generation":6,"fontIds":["x"]}
      < MeasureResult {"requestId":3,"generation":6,"layoutKey":"","items":[{"fontId":"x","resolved":false,"error":"FONT_NOT_REGISTERED"}]}
      > Measure {"requestId":4,"generation":6,"fontIds":["x"]}
      < MeasureResult {"requestId":4,"generation":6,"layoutKey":"","items":[{"fontId":"x","resolved":false,"error":"FONT_NOT_REGISTERED"}]}
    )"},
    {"the watermark never goes down", R"(
      > SetGeneration {"generation":7}
      > SetGeneration {"generation":3}
      > SetGeneration {"generation":-2}
      > SetGeneration {"generation":0}
      > Measure {"generation":7,"fontIds":[]}
      > Ping
      < Pong {}
      > Measure {"generation":8,"fontIds":[]}
      < MeasureResult {"requestId":0,"generation":8,"layoutKey":"","items":[]}
    )"},
    {"non-positive watermarks change nothing", R"(
      > SetGeneration {"generation":-2}
      > SetGeneration {"generation":0}
      > SetGeneration {}
      > Measure {"generation":1}
      < MeasureResult {"requestId":0,"generation":1,"layoutKey":"","items":[]}
    )"},
    {"set generation truncates", R"(
      > SetGeneration {"generation":5.9}
      > Measure {"generation":5}
      > Measure {"generation":6}
      < MeasureResult {"requestId":0,"generation":6,"layoutKey":"","items":[]}
    )"},
    {"request ids are truncated toward zero, never negative", R"(
      > Measure {"requestId":42.9,"generation":1}
      < MeasureResult {"requestId":42,"generation":1,"layoutKey":"","items":[]}
      > Measure {"requestId":-3,"generation":1}
      < MeasureResult {"requestId":0,"generation":1,"layoutKey":"","items":[]}
      > Measure {"requestId":"7","generation":1}
      < MeasureResult {"requestId":0,"generation":1,"layoutKey":"","items":[]}
      > Measure {"requestId":9007199254740992,"generation":3.5}
      < MeasureResult {"requestId":9007199254740992,"generation":3,"layoutKey":"","items":[]}
    )"},
    {"font ids keep order and duplicates and skip non-strings", R"(
      > Measure {"generation":1,"fontIds":["b",5,"a",null,"b",""]}
      < MeasureResult {"requestId":0,"generation":1,"layoutKey":"","items":[{"fontId":"b","resolved":false,"error":"FONT_NOT_REGISTERED"},{"fontId":"a","resolved":false,"error":"FONT_NOT_REGISTERED"},{"fontId":"b","resolved":false,"error":"FONT_NOT_REGISTERED"},{"fontId":"","resolved":false,"error":"FONT_NOT_REGISTERED"}]}
    )"},
    {"font ids that are not an array give no items", R"(
      > Measure {"generation":1,"fontIds":"x"}
      < MeasureResult {"requestId":0,"generation":1,"layoutKey":"","items":[]}
    )"},
    {"layout key and font id are escaped on the way back", R"(
      > Measure {"generation":1,"layoutKey":"q\"b\\s\u0001\u001b\t/\u00e9","fontIds":["\u00e9\ud83d\ude00"]}
      < MeasureResult {"requestId":0,"generation":1,"layoutKey":"q\"b\\s\u0001\u001b\t/é","items":[{"fontId":"é😀","resolved":false,"error":"FONT_NOT_REGISTERED"}]}
    )"},
    {"an unpaired surrogate is echoed as the empty string", R"(
      > Measure {"generation":1,"layoutKey":"\udc00","fontIds":["a\ud800"]}
      < MeasureResult {"requestId":0,"generation":1,"layoutKey":"","items":[{"fontId":"","resolved":false,"error":"FONT_NOT_REGISTERED"}]}
    )"},
    {"ids of 2^64 and above saturate to 2^63", R"(
      > Measure {"requestId":18446744073709551616,"generation":1e30}
      < MeasureResult {"requestId":9223372036854775808,"generation":9223372036854775808,"layoutKey":"","items":[]}
    )"},
    {"the font error comes before layout validation", R"(
      > Measure {"generation":1,"fontSize":1000,"width":-1,"dpiScale":99,"fontIds":["x"]}
      < MeasureResult {"requestId":0,"generation":1,"layoutKey":"","items":[{"fontId":"x","resolved":false,"error":"FONT_NOT_REGISTERED"}]}
    )"},
    {"render writes one frame per font id", R"(
      > Render {"requestId":42.9,"generation":1,"layoutKey":"k","fontIds":["x","y","x"]}
      < RenderResult {"requestId":42,"generation":1,"layoutKey":"k","fontId":"x","resolved":false,"error":"FONT_NOT_REGISTERED"}
      < RenderResult {"requestId":42,"generation":1,"layoutKey":"k","fontId":"y","resolved":false,"error":"FONT_NOT_REGISTERED"}
      < RenderResult {"requestId":42,"generation":1,"layoutKey":"k","fontId":"x","resolved":false,"error":"FONT_NOT_REGISTERED"}
    )"},
    {"render without font ids writes nothing", R"(
      > Render {"generation":1}
      > Render {"generation":1,"fontIds":[]}
      > Ping
      < Pong {}
    )"},
};

TEST(GenerationTest, Exchanges) {
  runExchanges(kRendererPath, kGenerationCases);
}

// A successful MeasureResult byte for byte, with the layout defaults applied.
constexpr ExchangeCase kMeasureDefaultsCases[] = {
    {"defaults: size 28, width 300, scale 1", R"(
      > RegisterFonts {"fonts":[{"fontId":"d","familyName":"DejaVu Sans"}]}
      < FontsRegistered {"fontCount":1}
      > Measure {"requestId":7,"generation":1,"layoutKey":"k","text":"The quick brown fox jumps over the lazy dog","fontIds":["d"]}
      < MeasureResult {"requestId":7,"generation":1,"layoutKey":"k","items":[{"fontId":"d","resolved":true,"height":98,"lineCount":3}]}
    )"},
};

TEST(MeasureResultTest, ASuccessfulReplyIsByteExactWithTheDefaultsApplied) {
  // Under Wine a family name alone resolves through the GDI-style path, whose lines differ.
  if (launcherInUse()) GTEST_SKIP() << "line metrics of the platform's own layout";
  runExchanges(kRendererPath, kMeasureDefaultsCases);
}

TEST(RenderResultTest, ASuccessfulReplyIsByteExactWithTheDefaultsApplied) {
  RendererSession session(kRendererPath);
  ASSERT_TRUE(session.started());
  ASSERT_TRUE(
      session.send(kRegisterFonts, R"({"fonts":[{"fontId":"d","familyName":"DejaVu Sans"}]})"));
  ASSERT_TRUE(session.expectReply(kFontsRegistered, R"({"fontCount":1})"));
  // No fontSize, width or dpiScale: 28, 300 and 1 give a 300 x 33 bitmap.
  ASSERT_TRUE(session.send(
      kRender, R"({"requestId":7,"generation":1,"layoutKey":"k","text":"Hi","fontIds":["d"]})"));
  client::Frame frame;
  ASSERT_EQ(session.client().receive(frame, kReplyTimeout), client::ReadStatus::kFrame);
  EXPECT_EQ(frame.type, kRenderResult);
  EXPECT_EQ(frame.json,
            R"({"requestId":7,"generation":1,"layoutKey":"k","fontId":"d","resolved":true,)"
            R"("width":300,"height":33,"stride":300,"textHeight":33,"pixelFormat":"A8"})");
  EXPECT_EQ(frame.payload.size(), 300u * 33u);
  EXPECT_TRUE(session.expectCleanEnd());
}

// Streams that end the loop: a valid Ping first, which must be answered, then the bad bytes.
// stdin stays open unless the case closes it, so a renderer that waits for more bytes of a frame
// it should have rejected fails with a timeout.
struct BadStreamCase {
  const char* name;
  std::string bytes;
  bool closeInput;
};

TEST(FrameLimitsTest, MalformedInputEndsTheLoopQuietly) {
  const std::string ping = frameBytes(kPing, "{}");
  const std::string pingBody = ping.substr(4);
  const BadStreamCase cases[] = {
      {"length 0", frameHeader(0, kPing, 0), false},
      {"length 4", frameHeader(4, kPing, 0), false},
      {"length 64 MiB + 1", frameHeader(67108865, kPing, 2), false},
      {"length 0xFFFFFFFF", frameHeader(0xFFFFFFFF, kPing, 2), false},
      {"json length 1 in a 5-byte frame", frameHeader(5, kPing, 1), false},
      {"json length longer than the frame", frameHeader(10, kPing, 6) + "{}{}{", false},
      {"json length 8 MiB + 1",
       frameHeader(8388609 + 5, kPing, 8388609) + std::string(8388609, ' '), false},
      {"end of input inside the length", ping.substr(0, 2), true},
      {"end of input inside the header", ping.substr(0, 7), true},
      {"end of input inside the body", frameHeader(50, kPing, 45) + "{\"a\":", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RendererSession session(kRendererPath);
    ASSERT_TRUE(session.started());
    session.sendBytes(ping + c.bytes);
    if (c.closeInput) session.process().closeInput();
    EXPECT_TRUE(session.expectReply(kPong, "{}"));
    EXPECT_TRUE(session.expectExit(0));
    EXPECT_TRUE(session.expectOutputEnded());
    EXPECT_TRUE(session.expectStderrEmpty());
  }
}

std::string paddedObject(size_t size) {
  // {"p":"aaa..."} of exactly `size` bytes.
  return "{\"p\":\"" + std::string(size - 8, 'a') + "\"}";
}

TEST(FrameLimitsTest, FramesAtTheLimitsAreAccepted) {
  const std::string kHelloJson = R"({"protocolVersion":1})";
  struct Case {
    const char* name;
    std::string bytes;
    uint8_t replyType;
    std::string_view replyJson;
  };
  const Case cases[] = {
      {"smallest frame", frameBytes(kPing, ""), kPong, "{}"},
      {"json text of exactly 8 MiB", frameBytes(kPing, paddedObject(8388608)), kPong, "{}"},
      {"frame of exactly 64 MiB", frameBytes(kPing, "{}", std::string(67108864 - 5 - 2, '\xAB')),
       kPong, "{}"},
      {"payload of a request is ignored", frameBytes(kHello, kHelloJson, "\x01\x02"), kHelloAck,
       kExpectedHelloAck},
  };
  RendererSession session(kRendererPath);
  ASSERT_TRUE(session.started());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(session.sendBytes(c.bytes));
    EXPECT_TRUE(session.expectReply(c.replyType, c.replyJson));
  }
  EXPECT_TRUE(session.expectCleanEnd());
}

TEST(FrameStreamTest, OneBytePerWrite) {
  RendererSession session(kRendererPath);
  ASSERT_TRUE(session.started());
  const std::string bytes = frameBytes(kHello, R"({"protocolVersion":1})");
  for (char byte : bytes) {
    ASSERT_TRUE(session.sendBytes(std::string_view(&byte, 1)));
    // Give the renderer the chance to see each byte in a read of its own.
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_TRUE(session.expectReply(kHelloAck, kExpectedHelloAck));
  EXPECT_TRUE(session.expectCleanEnd());
}

TEST(FrameStreamTest, ManyFramesInOneWrite) {
  RendererSession session(kRendererPath);
  ASSERT_TRUE(session.started());
  std::string bytes = frameBytes(kPing, "") + frameBytes(kHello, R"({"protocolVersion":1})");
  for (int i = 0; i < 1000; ++i) bytes += frameBytes(kPing, "{}");
  ASSERT_TRUE(session.sendBytes(bytes));
  EXPECT_TRUE(session.expectReply(kPong, "{}"));
  EXPECT_TRUE(session.expectReply(kHelloAck, kExpectedHelloAck));
  for (int i = 0; i < 1000; ++i) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(session.expectReply(kPong, "{}"));
  }
  EXPECT_TRUE(session.expectCleanEnd());
}

}  // namespace
}  // namespace kfp::test
