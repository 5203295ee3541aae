#include "host/reply_encoding.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>

#include "host/replies.h"
#include "protocol/message_types.h"
#include "support/memory_stream.h"

namespace kfp {
namespace {

std::string quoteJson(std::string_view bytes) {
  std::string out;
  appendQuotedJson(out, bytes);
  return out;
}

std::string quoteUtf16(std::u16string_view text) {
  std::string out;
  appendQuotedUtf16(out, text);
  return out;
}

struct QuoteCase {
  std::string_view in;
  std::string_view out;
};

TEST(QuoteJson, EscapesOnlyWhatJsonRequires) {
  const QuoteCase cases[] = {
      {"A\"\\B", "\"A\\\"\\\\B\""},
      {std::string_view("\x01", 1), "\"\\u0001\""},
      {"\x1b", "\"\\u001b\""},
      {"\x1f", "\"\\u001f\""},
      {"\t\n\r\b\f", "\"\\t\\n\\r\\b\\f\""},
      {"/", "\"/\""},
      {"\x7f", "\"\x7f\""},
      {"\xc3\xa9", "\"\xc3\xa9\""},
      {"", "\"\""},
      {std::string_view("a\0b", 3), "\"a\\u0000b\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(quoteJson(c.in), c.out);
  }
}

TEST(QuoteUtf16, ConvertsValidTextAndSendsBrokenTextAsEmpty) {
  struct Case {
    std::u16string in;
    std::string out;
  };
  const Case cases[] = {
      {u"", "\"\""},
      {u"abc", "\"abc\""},
      {u"\u00e9\u4e2d", "\"\xc3\xa9\xe4\xb8\xad\""},
      {u"\U0001F600", "\"\xf0\x9f\x98\x80\""},
      {std::u16string(1, char16_t(0xD800)), "\"\""},
      {std::u16string{u'a', char16_t(0xDC00), u'b'}, "\"\""},
      {std::u16string{char16_t(0xDBFF), u'x'}, "\"\""},
      {std::u16string{char16_t(0xD800), char16_t(0xE000)}, "\"\""},
      {std::u16string{char16_t(0xDBFF), char16_t(0xDFFF)}, "\"\xf4\x8f\xbf\xbf\""},
      {u"tab\there", "\"tab\\there\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.out);
    EXPECT_EQ(quoteUtf16(c.in), c.out);
  }
}

TEST(ErrorCodes, AreTheTextsHostsMatchOn) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {errors::kInitializeFailed, "INITIALIZE_FAILED"},
      {errors::kMemoryHardLimit, "MEMORY_HARD_LIMIT"},
      {errors::kProtocolMismatch, "PROTOCOL_MISMATCH"},
      {errors::kUnknownMessage, "UNKNOWN_MESSAGE"},
      {errors::kInvalidJson, "INVALID_JSON"},
      {errors::kInternalError, "INTERNAL_ERROR"},
      {errors::kInvalidFontList, "INVALID_FONT_LIST"},
      {errors::kTooManyFonts, "TOO_MANY_FONTS"},
      {errors::kInvalidFontCount, "INVALID_FONT_COUNT"},
      {errors::kInvalidFontChunk, "INVALID_FONT_CHUNK"},
      {errors::kIncompleteFontRegistration, "INCOMPLETE_FONT_REGISTRATION"},
      {errors::kFontNotRegistered, "FONT_NOT_REGISTERED"},
      {errors::kFontNotFound, "FONT_NOT_FOUND"},
      {errors::kFontCollectionCreateFailed, "FONT_COLLECTION_CREATE_FAILED"},
      {errors::kFontFamilyNameFailed, "FONT_FAMILY_NAME_FAILED"},
      {errors::kInvalidLayout, "INVALID_LAYOUT"},
      {errors::kTextFormatFailed, "TEXT_FORMAT_FAILED"},
      {errors::kFontAxisFailed, "FONT_AXIS_FAILED"},
      {errors::kTextLayoutFailed, "TEXT_LAYOUT_FAILED"},
      {errors::kTextMetricsFailed, "TEXT_METRICS_FAILED"},
      {errors::kGdiFontFailed, "GDI_FONT_FAILED"},
      {errors::kGdiMeasureFailed, "GDI_MEASURE_FAILED"},
      {errors::kRasterizeFailed, "RASTERIZE_FAILED"},
  };
  for (const auto& [code, text] : cases) EXPECT_EQ(code, text);
}

TEST(ErrorJson, IsTheCodeInAnErrorObject) {
  EXPECT_EQ(errorJson("UNKNOWN_MESSAGE"), "{\"error\":\"UNKNOWN_MESSAGE\"}");
  EXPECT_EQ(errorJson("UNKNOWN_MESSAGE").size(), 27u);
  EXPECT_EQ(errorJson("RASTERIZE_FAILED").size(), 28u);
}

TEST(WriteErrorReply, WritesTheErrorTextForEveryCode) {
  const std::string_view codes[] = {errors::kInitializeFailed,
                                    errors::kMemoryHardLimit,
                                    errors::kProtocolMismatch,
                                    errors::kUnknownMessage,
                                    errors::kInvalidJson,
                                    errors::kInternalError,
                                    errors::kInvalidFontList,
                                    errors::kTooManyFonts,
                                    errors::kInvalidFontCount,
                                    errors::kInvalidFontChunk,
                                    errors::kIncompleteFontRegistration,
                                    errors::kRasterizeFailed,
                                    "A_CODE_FAR_LONGER_THAN_ANY_OF_THE_CODES_THE_RENDERER_SENDS"};
  for (std::string_view code : codes) {
    SCOPED_TRACE(code);
    testing::MemoryWriter out;
    ASSERT_TRUE(writeErrorReply(out, kFatalError, code));
    EXPECT_EQ(out.data, testing::frameBytes(kFatalError, errorJson(code)));
  }
}

TEST(AppendUnsigned, PrintsPlainDecimal) {
  const std::pair<uint64_t, std::string_view> cases[] = {
      {0, "0"}, {7, "7"}, {42, "42"}, {UINT64_MAX, "18446744073709551615"}};
  for (const auto& [value, text] : cases) {
    std::string out;
    appendUnsigned(out, value);
    EXPECT_EQ(out, text);
  }
}

struct FloatCase {
  float value;
  std::string_view text;
};

constexpr FloatCase kFloatCases[] = {
    {28.0f, "28"},
    {33.6f, "33.6"},
    {1.3333334f, "1.33333"},
    {0.5f, "0.5"},
    {33554432.0f, "3.35544e+07"},
    {0.00001f, "1e-05"},
    {100000.0f, "100000"},
    {0.0f, "0"},
    {1000000.0f, "1e+06"},
    {0.0001f, "0.0001"},
    {123456.7f, "123457"},
    {-2.5f, "-2.5"},
};

TEST(AppendFloat, FollowsTheGeneralFormatRule) {
  for (const auto& c : kFloatCases) {
    SCOPED_TRACE(c.text);
    std::string out;
    appendFloat(out, c.value);
    EXPECT_EQ(out, c.text);
  }
}

TEST(AppendFloat, IgnoresTheProcessLocale) {
  // A locale with a decimal comma must not leak into replies.
  const char* previous = std::setlocale(LC_ALL, nullptr);
  const std::string saved = previous ? previous : "C";
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8") && !std::setlocale(LC_ALL, "fr_FR.UTF-8")) {
    GTEST_SKIP() << "no locale with a decimal comma installed";
  }
  std::string out;
  appendFloat(out, 33.6f);
  std::setlocale(LC_ALL, saved.c_str());
  EXPECT_EQ(out, "33.6");
}

TEST(Utf16ToUtf8, RejectsUnpairedSurrogatesOnly) {
  std::string out;
  EXPECT_TRUE(utf16ToUtf8(u"\U0010FFFF", out));
  EXPECT_EQ(out, "\xf4\x8f\xbf\xbf");
  EXPECT_FALSE(utf16ToUtf8(std::u16string(1, char16_t(0xDFFF)), out));
}

}  // namespace
}  // namespace kfp
