// The client's JSON reading and writing (reply decoding, request texts) and its failures: the
// Error each broken read becomes, and outcomes whose failed value cannot be read.

#include <gtest/gtest.h>

#include <cmath>

#include "json_text.h"
#include "kfp_client.h"
#include "outcome.h"
#include "json_value.h"
#include "protocol/message_types.h"
#include "replies.h"
#include "requests.h"

namespace kfp::client {
namespace {

Frame frameOf(uint8_t type, std::string json, std::vector<uint8_t> payload = {}) {
  return Frame{type, std::move(json), std::move(payload)};
}

TEST(JsonReaderTest, StringsDecodeToUtf8) {
  struct Case {
    const char* json;
    const char* expected;
  } const cases[] = {
      {R"("plain")", "plain"},
      {R"("q\"b\\s\/")", "q\"b\\s/"},
      {R"("\b\f\n\r\t")", "\b\f\n\r\t"},
      {R"("\u0001\u001b")", "\x01\x1b"},
      {R"("\u00e9\u20AC")", "é€"},
      {R"("\ud83d\ude00")", "😀"},
      {R"("é😀")", "é😀"},
      {R"("\ud800")", "\xEF\xBF\xBD"},
      {R"("\ud800x")", "\xEF\xBF\xBDx"},
      {R"("\udc00\ud800\u0041")",
       "\xEF\xBF\xBD\xEF\xBF\xBD"
       "A"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    auto value = parseJson(c.json);
    ASSERT_TRUE(value);
    EXPECT_EQ(value->asString(), c.expected);
  }
}

TEST(JsonReaderTest, RejectsWhatIsNotOneJsonValue) {
  const char* cases[] = {
      "",        "{",     "{\"a\":}", "{\"a\" 1}", "{\"a\":1,}", "[1,]",
      "{} {}",   "01",    "1.",       "-",         ".5",         "1e",
      "tru",     "nul",   "\"\\x\"",  "\"\\u12\"", "\"a",        "\"tab\there\"",
      "{'a':1}", "{a:1}", "[1 2]",    "+1",
  };
  for (const char* text : cases) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(parseJson(text));
  }
  EXPECT_FALSE(parseJson(std::string(200, '[') + std::string(200, ']')));
}

TEST(JsonReaderTest, NumbersKeepTheirDigits) {
  struct Case {
    const char* json;
    std::optional<uint64_t> asUnsigned;
    double asDouble;
  } const cases[] = {
      {"0", 0, 0},
      {"42", 42, 42},
      {"18446744073709551615", UINT64_MAX, 18446744073709551615.0},
      {"18446744073709551616", std::nullopt, 18446744073709551616.0},
      {"-3", std::nullopt, -3},
      {"33.6", std::nullopt, 33.6},
      {"3.35544e+07", std::nullopt, 33554400},
      {"1e-05", std::nullopt, 1e-05},
      {"1e400", std::nullopt, HUGE_VAL},
      {"-1e400", std::nullopt, -HUGE_VAL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    auto value = parseJson(c.json);
    ASSERT_TRUE(value);
    EXPECT_EQ(value->asUnsigned(), c.asUnsigned);
    EXPECT_EQ(value->asDouble(), c.asDouble);
  }
}

TEST(ReplyDecodingTest, MeasureResult) {
  const auto result = decodeMeasureResult(
      frameOf(kMeasureResult,
              R"({"requestId":18446744073709551615,"generation":3,"layoutKey":"k\"1","items":[)"
              R"({"fontId":"a","resolved":true,"height":33.6,"lineCount":2},)"
              R"({"fontId":"b","resolved":false,"error":"FONT_NOT_FOUND"}]})"));
  ASSERT_TRUE(result);
  EXPECT_EQ(result->requestId, UINT64_MAX);
  EXPECT_EQ(result->generation, 3u);
  EXPECT_EQ(result->layoutKey, "k\"1");
  ASSERT_EQ(result->items.size(), 2u);
  EXPECT_TRUE(result->items[0].resolved);
  EXPECT_DOUBLE_EQ(result->items[0].height, 33.6);
  EXPECT_EQ(result->items[0].lineCount, 2u);
  EXPECT_FALSE(result->items[1].resolved);
  EXPECT_EQ(result->items[1].error, "FONT_NOT_FOUND");

  // Members in any order; an "items" key inside an item is only a member of it.
  const auto reordered = decodeMeasureResult(frameOf(
      kMeasureResult,
      R"({"items":[{"items":[],"fontId":"a\u00e9","resolved":true,"height":2,"lineCount":1}],)"
      R"("layoutKey":"","generation":3,"requestId":7})"));
  ASSERT_TRUE(reordered);
  EXPECT_EQ(reordered->requestId, 7u);
  ASSERT_EQ(reordered->items.size(), 1u);
  EXPECT_EQ(reordered->items[0].fontId, "a\xc3\xa9");
}

TEST(ReplyDecodingTest, MalformedMeasureResultsAreRefused) {
  const char* cases[] = {
      R"({"generation":1,"layoutKey":"","items":[]})",
      R"({"requestId":1,"generation":1,"items":[]})",
      R"({"requestId":-1,"generation":1,"layoutKey":"","items":[]})",
      R"({"requestId":1,"generation":1,"layoutKey":"","items":{}})",
      R"({"requestId":1,"generation":1,"layoutKey":"","items":[{"fontId":"a","resolved":true}]})",
      R"({"requestId":1,"generation":1,"layoutKey":"","items":[{"fontId":"a","resolved":false}]})",
      R"({"requestId":1,"generation":1,"layoutKey":"","items":[{"fontId":"a","resolved":true,"height":1,"lineCount":4294967296}]})",
      R"({"requestId":1,"generation":1,"layoutKey":"","items":[]}x)",
      R"({"requestId":1,"generation":1,"layoutKey":""})",
      R"({"requestId":1,"generation":1,"layoutKey":"","items":[1]})",
      // Items are decoded one by one through one reused value: nothing of the first may be left
      // for the second.
      R"({"requestId":1,"generation":1,"layoutKey":"","items":[{"fontId":"a","resolved":true,"height":1,"lineCount":1},{"fontId":"b","resolved":true}]})",
  };
  for (const char* json : cases) {
    SCOPED_TRACE(json);
    EXPECT_FALSE(decodeMeasureResult(frameOf(kMeasureResult, json)));
  }
  EXPECT_FALSE(decodeMeasureResult(
      frameOf(kRenderResult, R"({"requestId":1,"generation":1,"layoutKey":"","items":[]})")));
}

TEST(ReplyDecodingTest, RenderResultPayloadMustMatchItsSize) {
  const std::string ok =
      R"({"requestId":1,"generation":2,"layoutKey":"","fontId":"a","resolved":true,)"
      R"("width":3,"height":2,"stride":3,"textHeight":1.5,"pixelFormat":"A8"})";
  const std::string failed =
      R"({"requestId":1,"generation":2,"layoutKey":"","fontId":"a","resolved":false,)"
      R"("error":"RASTERIZE_FAILED"})";
  struct Case {
    const char* name;
    std::string json;
    size_t payloadSize;
    bool decodes;
  } const cases[] = {
      {"bitmap of width x height", ok, 6, true},
      {"payload short by one", ok, 5, false},
      {"payload long by one", ok, 7, false},
      {"failure without payload", failed, 0, true},
      {"failure with a payload", failed, 1, false},
      {"resolved without sizes",
       R"({"requestId":1,"generation":2,"layoutKey":"","fontId":"a","resolved":true})", 0, false},
      // The payload matches stride x height, but rows narrower than the bitmap cannot hold it.
      {"stride below the width",
       R"({"requestId":1,"generation":2,"layoutKey":"","fontId":"a","resolved":true,)"
       R"("width":3,"height":3,"stride":2,"textHeight":1.5,"pixelFormat":"A8"})",
       6, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto result =
        decodeRenderResult(frameOf(kRenderResult, c.json, std::vector<uint8_t>(c.payloadSize, 7)));
    EXPECT_EQ(result.has_value(), c.decodes);
    if (result && result->resolved) {
      EXPECT_EQ(result->pixels.size(), 6u);
      EXPECT_EQ(result->pixelFormat, "A8");
      EXPECT_DOUBLE_EQ(result->textHeight, 1.5);
    }
  }
}

TEST(ReplyDecodingTest, CountsAndErrors) {
  EXPECT_EQ(decodeFontCount(frameOf(kFontsRegistered, R"({"fontCount":50000})")), 50000u);
  EXPECT_FALSE(decodeFontCount(frameOf(kFontChunkAck, R"({"fontCount":1})")));
  EXPECT_EQ(decodeReceivedCount(frameOf(kFontChunkAck, R"({"receivedCount":250})")), 250u);
  EXPECT_EQ(decodeErrorCode(frameOf(kError, R"({"error":"UNKNOWN_MESSAGE"})")), "UNKNOWN_MESSAGE");
  EXPECT_EQ(decodeErrorCode(frameOf(kFatalError, R"({"error":"MEMORY_HARD_LIMIT"})")),
            "MEMORY_HARD_LIMIT");
  EXPECT_FALSE(decodeErrorCode(frameOf(kPong, R"({"error":"X"})")));
}

TEST(RequestTextTest, StringsSurviveTheRoundTrip) {
  const char* cases[] = {
      "", "plain", "q\"b\\s", "/", "\x01\x1f\x7f", "\b\f\n\r\t", "é€😀", "\xFF\xFE",
  };
  for (const char* text : cases) {
    SCOPED_TRACE(text);
    const std::string quoted = quoteJsonString(text);
    for (unsigned char c : quoted) EXPECT_GE(c, 0x20) << "raw control byte in " << quoted;
    // Invalid UTF-8 is passed through untouched; only valid text must read back equal.
    if (std::string_view(text) != "\xFF\xFE") {
      auto value = parseJson(quoted);
      ASSERT_TRUE(value);
      EXPECT_EQ(value->asString(), text);
    }
  }
}

TEST(RequestTextTest, NumbersReadBackExactly) {
  struct Case {
    double value;
    const char* text;
  } const cases[] = {
      {28, "28"},     {0.1, "0.1"},  {-3, "-3"},         {1e20, "1e+20"},
      {42.9, "42.9"}, {NAN, "null"}, {INFINITY, "null"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::string out;
    appendJsonNumber(out, c.value);
    EXPECT_EQ(out, c.text);
  }
}

TEST(RequestTextTest, DescriptorTextCarriesEveryNameAndAxis) {
  FontDescriptor font;
  font.fontId = "id\"1";
  font.familyName = "Inter";
  font.nativeFamilyName = "インター";
  font.styleName = "Bold Italic";
  font.postScriptName = "Inter-BoldItalic";
  font.axes = {{"wght", 100.0, 900.0, 650}, {"opsz", std::nullopt, std::nullopt, 14}};
  std::string json;
  appendDescriptorJson(json, font);
  EXPECT_EQ(json, R"({"fontId":"id\"1","familyName":"Inter","nativeFamilyName":"インター",)"
                  R"("styleName":"Bold Italic","postScriptName":"Inter-BoldItalic",)"
                  R"("designAxesData":[{"tag":"wght","min":100,"max":900},{"tag":"opsz"}],)"
                  R"("designVector":[650,14]})");
}

TEST(RequestTextTest, LayoutRequestText) {
  LayoutRequest request;
  request.requestId = UINT64_MAX;
  request.generation = 7;
  request.layoutKey = "row\n1";
  request.text = "Hi";
  request.fontSize = 12.5;
  request.fontIds = {"a", "b"};
  EXPECT_EQ(layoutRequestJson(request),
            R"({"requestId":18446744073709551615,"generation":7,"layoutKey":"row\n1",)"
            R"("text":"Hi","fontSize":12.5,"width":300,"dpiScale":1,"fontIds":["a","b"]})");
  EXPECT_EQ(fontListJson({}), R"({"fonts":[]})");
  EXPECT_EQ(helloJson(1), R"({"protocolVersion":1})");
  EXPECT_EQ(beginFontsJson(2.5), R"({"fontCount":2.5})");
}

TEST(OutcomeTest, AFailedOutcomeHasNoValueAndASuccessNoError) {
  Outcome<std::vector<int>> failed = Error(ErrorKind::kTimeout, codes::kReplyTimeout, "5 s");
  EXPECT_FALSE(failed);
  EXPECT_THROW(failed.value(), BadOutcomeAccess);
  EXPECT_THROW(*failed, BadOutcomeAccess);
  EXPECT_THROW((void)failed->size(), BadOutcomeAccess);
  EXPECT_THROW((void)std::move(failed).value(), BadOutcomeAccess);
  EXPECT_EQ(failed.error().kind(), ErrorKind::kTimeout);
  EXPECT_EQ(failed.error().code(), codes::kReplyTimeout);
  EXPECT_EQ(failed.error().describe(), "timeout REPLY_TIMEOUT: 5 s");
  EXPECT_EQ(std::move(failed).valueOr({7}), std::vector<int>{7});

  Outcome<std::vector<int>> succeeded = std::vector<int>{1, 2};
  ASSERT_TRUE(succeeded);
  EXPECT_EQ(succeeded->size(), 2u);
  EXPECT_THROW((void)succeeded.error(), BadOutcomeAccess);
  EXPECT_EQ(std::move(succeeded).valueOr({7}), (std::vector<int>{1, 2}));

  const Status fine;
  EXPECT_TRUE(fine);
  EXPECT_THROW((void)fine.error(), BadOutcomeAccess);
  const Status broken = Error(ErrorKind::kRendererError, "INVALID_JSON");
  EXPECT_FALSE(broken);
  EXPECT_EQ(broken.error().describe(), "renderer error INVALID_JSON");
}

TEST(OutcomeTest, EveryBrokenReadIsAKindAndACode) {
  struct Case {
    ReadStatus status;
    ErrorKind kind;
    std::string_view code;
  } const cases[] = {
      {ReadStatus::kTimeout, ErrorKind::kTimeout, codes::kReplyTimeout},
      {ReadStatus::kMalformed, ErrorKind::kProtocol, codes::kMalformedReply},
      {ReadStatus::kEndOfStream, ErrorKind::kProtocol, codes::kStreamEnded},
      {ReadStatus::kTruncated, ErrorKind::kProtocol, codes::kStreamEnded},
      {ReadStatus::kClosed, ErrorKind::kProtocol, codes::kStreamEnded},
      {ReadStatus::kFrame, ErrorKind::kInternal, codes::kInternal},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(readStatusName(c.status));
    const Error error = readFailure(c.status);
    EXPECT_EQ(error.kind(), c.kind);
    EXPECT_EQ(error.code(), c.code);
  }
}

}  // namespace
}  // namespace kfp::client
