#include "base/json.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "base/utf8.h"

namespace kfp {
namespace {

using namespace std::string_view_literals;

constexpr HResult kNoError = 0;

HResult parseResult(std::string_view text) {
  try {
    JsonObject::parse(text);
    return kNoError;
  } catch (const JsonError& e) {
    return e.code();
  }
}

// ---- Which texts parse -------------------------------------------------------------------------

struct SyntaxCase {
  std::string_view text;
  HResult expected;
};

constexpr SyntaxCase kSyntaxCases[] = {
    {"{}", kNoError},
    {" \t\r\n{ \t\r\n} \t\r\n", kNoError},
    {R"({"a":1})", kNoError},
    {R"({"a":[1,2,{"b":null}],"c":true,"d":false,"e":{}})", kNoError},
    {R"({"":0})", kNoError},
    {R"({"a":[[[[]]]]})", kNoError},
    {R"({"a":"\u0000"})", kNoError},
    {"{\"a\":\"\x7f\"}", kNoError},      // DEL is not a control character in JSON
    {"{\"a\":\"\xff\xc0\"}", kNoError},  // malformed UTF-8 inside a string is replaced
    {"{\"\xed\xa0\x80\":1}", kNoError},
    {R"({"a":-0.5e-3,"b":0,"c":1E+2,"d":1e-2})", kNoError},
    // Not one object.
    {"", kJsonSyntaxError},
    {" \n", kJsonSyntaxError},
    {"[]", kJsonSyntaxError},
    {"[{}]", kJsonSyntaxError},
    {"1", kJsonSyntaxError},
    {R"("s")", kJsonSyntaxError},
    {"true", kJsonSyntaxError},
    {"null", kJsonSyntaxError},
    {"{", kJsonSyntaxError},
    {"}", kJsonSyntaxError},
    {"{}{}", kJsonSyntaxError},
    {"{} x", kJsonSyntaxError},
    {"{},", kJsonSyntaxError},
    {"{}\0"sv, kJsonSyntaxError},
    {"\xef\xbb\xbf{}", kJsonSyntaxError},  // byte order mark
    {"\xc2\xa0{}", kJsonSyntaxError},      // no-break space is not JSON whitespace
    {"{}\xff", kJsonSyntaxError},
    {"\f{}", kJsonSyntaxError},
    // Members and elements.
    {R"({"a"})", kJsonSyntaxError},
    {R"({"a":})", kJsonSyntaxError},
    {R"({"a" 1})", kJsonSyntaxError},
    {R"({a:1})", kJsonSyntaxError},
    {R"({'a':1})", kJsonSyntaxError},
    {R"({"a":1,})", kJsonSyntaxError},
    {R"({,})", kJsonSyntaxError},
    {R"({"a":1 "b":2})", kJsonSyntaxError},
    {R"({"a":1}})", kJsonSyntaxError},
    {R"({"a":[1,]})", kJsonSyntaxError},
    {R"({"a":[,1]})", kJsonSyntaxError},
    {R"({"a":[1 2]})", kJsonSyntaxError},
    {R"({"a":[1})", kJsonSyntaxError},
    {R"({"a":{]})", kJsonSyntaxError},
    {R"({"a":1]})", kJsonSyntaxError},
    {"{/*c*/}", kJsonSyntaxError},
    {"// c\n{}", kJsonSyntaxError},
    // Literals.
    {R"({"a":tru})", kJsonSyntaxError},
    {R"({"a":True})", kJsonSyntaxError},
    {R"({"a":nul})", kJsonSyntaxError},
    {R"({"a":nulll})", kJsonSyntaxError},
    {R"({"a":NaN})", kJsonSyntaxError},
    {R"({"a":Infinity})", kJsonSyntaxError},
    // Numbers.
    {R"({"a":01})", kJsonSyntaxError},
    {R"({"a":-01})", kJsonSyntaxError},
    {R"({"a":1.})", kJsonSyntaxError},
    {R"({"a":.5})", kJsonSyntaxError},
    {R"({"a":+1})", kJsonSyntaxError},
    {R"({"a":-})", kJsonSyntaxError},
    {R"({"a":1e})", kJsonSyntaxError},
    {R"({"a":1e+})", kJsonSyntaxError},
    {R"({"a":1.e5})", kJsonSyntaxError},
    {R"({"a":0x10})", kJsonSyntaxError},
    {R"({"a":- 1})", kJsonSyntaxError},
    {R"({"a":1e400})", kJsonNumberTooLarge},
    {R"({"a":-1e400})", kJsonNumberTooLarge},
    {R"({"a":[0,1.7976931348623159e308]})", kJsonNumberTooLarge},
    {R"({"a":0.0001e313})", kJsonNumberTooLarge},
    {R"({"a":100000e304})", kJsonNumberTooLarge},
    {R"({"a":1e99999999999999999999})", kJsonNumberTooLarge},
    // Strings.
    {R"({"a":"unterminated})", kJsonSyntaxError},
    {R"({"a":"\x"})", kJsonSyntaxError},
    {R"({"a":"\U0041"})", kJsonSyntaxError},
    {R"({"a":"\u12"})", kJsonSyntaxError},
    {R"({"a":"\u12G4"})", kJsonSyntaxError},
    {R"({"a":"\)", kJsonSyntaxError},
    {R"({"a":"\'"})", kJsonSyntaxError},
    {"{\"a\":\"tab\there\"}", kJsonSyntaxError},
    {"{\"a\":\"\n\"}", kJsonSyntaxError},
    {"{\"a\":\"\0\"}"sv, kJsonSyntaxError},
    {"{\"a\x1f\":1}", kJsonSyntaxError},
    {"{\"a\":\"0123456789abcdef0123\x01xyz\"}", kJsonSyntaxError},  // in the 16-byte fast path
    {"{\"a\":\"0123456789abcdef0123456789", kJsonSyntaxError},
    {"{\"a\":\"x\"\xc3\xa9}", kJsonSyntaxError},
};

TEST(JsonParse, AcceptsExactlyStrictJsonObjects) {
  for (const SyntaxCase& c : kSyntaxCases) {
    SCOPED_TRACE(testing::Message() << "text: " << testing::PrintToString(std::string(c.text)));
    EXPECT_EQ(parseResult(c.text), c.expected);
  }
}

TEST(JsonParse, FailureIsAPlatformError) {
  EXPECT_THROW(JsonObject::parse("[]"), JsonError);
  EXPECT_THROW(JsonObject::parse(""), JsonError);
}

// `depth` containers nested in all, the root object included.
std::string nested(char open, char close, size_t depth) {
  if (open == '{') {
    std::string text;
    for (size_t i = 1; i < depth; ++i) text += "{\"k\":";
    return text + "{}" + std::string(depth - 1, '}');
  }
  return "{\"k\":" + std::string(depth - 1, open) + std::string(depth - 1, close) + "}";
}

TEST(JsonParse, NestingIsLimited) {
  struct DepthCase {
    char open, close;
    size_t depth;
    HResult expected;
  };
  static constexpr DepthCase kCases[] = {
      {'[', ']', kJsonMaxDepth, kNoError},  {'[', ']', kJsonMaxDepth + 1, kJsonSyntaxError},
      {'{', '}', kJsonMaxDepth, kNoError},  {'{', '}', kJsonMaxDepth + 1, kJsonSyntaxError},
      {'[', ']', 200000, kJsonSyntaxError},
  };
  for (const DepthCase& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.open << " depth " << c.depth);
    EXPECT_EQ(parseResult(nested(c.open, c.close, c.depth)), c.expected);
  }
}

// ---- Numbers -----------------------------------------------------------------------------------

struct NumberCase {
  std::string_view text;
  double expected;
};

constexpr NumberCase kNumberCases[] = {
    {"0", 0.0},
    {"-0", -0.0},
    {"-0.0", -0.0},
    {"0.0e-5", 0.0},
    {"0e999999999999", 0.0},
    {"-1", -1.0},
    {"2.5", 2.5},
    {"1e2", 100.0},
    {"1E+2", 100.0},
    {"1e-2", 0.01},
    {"123.456e-2", 1.23456},
    {"0.1", 0.1},
    {"0.30000000000000004", 0.30000000000000004},
    {"123456789012345", 123456789012345.0},
    {"-999999999999999", -999999999999999.0},
    {"1234567890123456", 1234567890123456.0},
    {"9007199254740993", 9007199254740992.0},  // halfway: rounds to even
    {"18446744073709551616", 18446744073709551616.0},
    {"-18446744073709551617", -18446744073709551616.0},
    {"99999999999999999999999", 1e23},
    {"1.00000000000000011102230246251565404236316680908203125", 1.0},
    {"1.00000000000000011102230246251565404236316680908203126", 1.0000000000000002},
    {"1.7976931348623157e308", 1.7976931348623157e308},
    {"2.2250738585072011e-308", 2.2250738585072011e-308},
    {"4.9e-324", 4.9406564584124654e-324},
    {"100000000000000000000000e-330", 1e-307},
    {"1e-400", 0.0},
    {"-1e-400", -0.0},
    {"2e-324", 0.0},
    {"0.000001e-320", 0.0},
    {"1e-99999999999999999999", 0.0},
};

TEST(JsonNumbers, ConvertExactly) {
  for (const NumberCase& c : kNumberCases) {
    SCOPED_TRACE(testing::Message() << "number: " << c.text);
    const std::string text =
        "{\"n\":" + std::string(c.text) + ",\"a\":[" + std::string(c.text) + "]}";
    JsonObject o = JsonObject::parse(text);
    const double named = o.getNamedNumber(u"n", 42.0);
    const double element = o.findNamedArray(u"a").value().findNumberAt(0).value();
    // Bitwise, so that -0 and 0 differ and nothing is "close enough".
    EXPECT_EQ(std::bit_cast<uint64_t>(named), std::bit_cast<uint64_t>(c.expected)) << named;
    EXPECT_EQ(std::bit_cast<uint64_t>(element), std::bit_cast<uint64_t>(c.expected)) << element;
  }
}

// ---- Strings -----------------------------------------------------------------------------------

struct StringCase {
  std::string_view json;  // the string literal as sent, quotes included
  std::u16string_view expected;
};

constexpr StringCase kStringCases[] = {
    {R"("")", u""},
    {R"("abc")", u"abc"},
    {R"("\"\\\/\b\f\n\r\t")", u"\"\\/\b\f\n\r\t"},
    {R"("\u0041\u00e9\u00E9\u20AC")", u"A\u00e9\u00e9\u20ac"},
    {R"("a\u0000b")", u"a\0b"sv},
    {R"("\uD83D\uDE00")", u"\U0001F600"},
    {R"("\uD83D")", u"\xD83D"},
    {R"("\uDE00x")", u"\xDE00x"},
    {R"("\uDE00\uD83D")", u"\xDE00\xD83D"},
    {R"("\ud83d\ud83d")", u"\xD83D\xD83D"},
    {"\"\x7f\"", u"\x7f"},
    // Well-formed UTF-8.
    {"\"\xc3\xa9\"", u"\u00e9"},
    {"\"\xe2\x82\xac\"", u"\u20ac"},
    {"\"\xef\xbf\xbd\"", u"\ufffd"},
    {"\"\xf0\x9f\x98\x80\"", u"\U0001F600"},
    {"\"\xf4\x8f\xbf\xbf\"", u"\U0010FFFF"},
    // Malformed UTF-8: one U+FFFD per maximal subpart.
    {"\"\x80\"", u"\ufffd"},
    {"\"\xbf\x80\"", u"\ufffd\ufffd"},
    {"\"\xc0\xaf\"", u"\ufffd\ufffd"},
    {"\"\xc1\xbf\"", u"\ufffd\ufffd"},
    {"\"\xc2\"", u"\ufffd"},
    {"\"\xe2\x82"
     "a\"",
     u"\ufffda"},
    {"\"\xe0\x80\x80\"", u"\ufffd\ufffd\ufffd"},
    {"\"\xe0\xa0\"", u"\ufffd"},
    {"\"\xed\xa0\x80\"", u"\ufffd\ufffd\ufffd"},
    {"\"\xed\x9f\xbf\"", u"\ud7ff"},
    {"\"\xf0\x80\x80\x80\"", u"\ufffd\ufffd\ufffd\ufffd"},
    {"\"\xf0\x9f\x98\"", u"\ufffd"},
    {"\"\xf0\x9f\x98"
     "A\"",
     u"\ufffdA"},
    {"\"\xf4\x90\x80\x80\"", u"\ufffd\ufffd\ufffd\ufffd"},
    {"\"\xf5\x80\"", u"\ufffd\ufffd"},
    {"\"\xfe\xff\"", u"\ufffd\ufffd"},
    {"\"\xc3\xa9\x80\"", u"\u00e9\ufffd"},
    // Long enough for the 16-byte path, with specials at and past its edges.
    {R"("0123456789abcdef0123456789abcdef")", u"0123456789abcdef0123456789abcdef"},
    {R"("0123456789abcde\n0123456789abcdef\u0041")", u"0123456789abcde\n0123456789abcdefA"},
    {"\"0123456789abcdef\xc3\xa9"
     "0123456789abcdef\xf0\x9f\x98\x80!\"",
     u"0123456789abcdef\u00e90123456789abcdef\U0001F600!"},
    {"\"0123456789abcdef\xff"
     "0123456789abcdef\"",
     u"0123456789abcdef\ufffd0123456789abcdef"},
};

TEST(JsonStrings, DecodeToUtf16) {
  for (const StringCase& c : kStringCases) {
    SCOPED_TRACE(testing::Message() << "string: " << testing::PrintToString(std::string(c.json)));
    const std::string json(c.json);
    JsonObject o = JsonObject::parse("{\"s\":" + json + ",\"a\":[" + json + "]}");
    EXPECT_EQ(o.getNamedString(u"s"), c.expected);
    EXPECT_EQ(o.findNamedArray(u"a").value().findStringAt(0), c.expected);
    // The same text as a member name is found by its decoded form.
    JsonObject named = JsonObject::parse("{" + json + ":7}");
    EXPECT_EQ(named.getNamedNumber(c.expected, 0), 7);
  }
}

TEST(Utf8, ConversionMatchesStringDecoding) {
  for (const StringCase& c : kStringCases) {
    if (c.json.find('\\') != std::string_view::npos) continue;  // escapes are JSON's, not UTF-8's
    SCOPED_TRACE(testing::Message() << "bytes: " << testing::PrintToString(std::string(c.json)));
    const std::string_view bytes = c.json.substr(1, c.json.size() - 2);
    EXPECT_EQ(utf8ToUtf16(bytes), c.expected);
  }
}

// ---- Named reads -------------------------------------------------------------------------------

constexpr std::string_view kNamedDocument = R"({
  "n": 2.5, "s": "text", "numeral": "28", "nul": null, "t": true, "f": false,
  "arr": [1], "obj": {"n": 1, "arr": []}, "neg": -0,
  "dup": 1, "dup": "two", "dup2": "one", "dup2": 3, "dupArr": 1, "dupArr": [1, 2],
  "Fonts": [], "": 9, "\u00e9": "accent"
})";

// The array read finds nothing; it raises nothing either.
constexpr HResult kJsonValueNotFound = static_cast<HResult>(0x83750009u);

struct NamedCase {
  std::u16string_view name;
  double number;  // with fallback 28
  std::u16string_view string;
  HResult arrayResult;
  uint32_t arraySize;
};

constexpr NamedCase kNamedCases[] = {
    {u"n", 2.5, u"", kJsonWrongType, 0},
    {u"s", 28, u"text", kJsonWrongType, 0},
    {u"numeral", 28, u"28", kJsonWrongType, 0},
    {u"nul", 28, u"", kJsonWrongType, 0},
    {u"t", 28, u"", kJsonWrongType, 0},
    {u"f", 28, u"", kJsonWrongType, 0},
    {u"arr", 28, u"", kNoError, 1},
    {u"obj", 28, u"", kJsonWrongType, 0},
    {u"neg", -0.0, u"", kJsonWrongType, 0},
    {u"dup", 28, u"two", kJsonWrongType, 0},
    {u"dup2", 3, u"", kJsonWrongType, 0},
    {u"dupArr", 28, u"", kNoError, 2},
    {u"Fonts", 28, u"", kNoError, 0},
    {u"fonts", 28, u"", kJsonValueNotFound, 0},  // names compare exactly
    {u"missing", 28, u"", kJsonValueNotFound, 0},
    {u"", 9, u"", kJsonWrongType, 0},
    {u"n\0"sv, 28, u"", kJsonValueNotFound, 0},
    {u"\u00e9", 28, u"accent", kJsonWrongType, 0},
    {u"e\u0301", 28, u"", kJsonValueNotFound, 0},  // no normalization
};

TEST(JsonNamedReads, FollowTypesAndDefaults) {
  const JsonObject o = JsonObject::parse(kNamedDocument);
  for (const NamedCase& c : kNamedCases) {
    SCOPED_TRACE(testing::Message() << "name #" << (&c - kNamedCases));
    const double number = o.getNamedNumber(c.name, 28);
    EXPECT_EQ(std::bit_cast<uint64_t>(number), std::bit_cast<uint64_t>(c.number)) << number;
    EXPECT_EQ(o.getNamedString(c.name), c.string);
    const std::optional<JsonArray> found = o.findNamedArray(c.name);
    EXPECT_EQ(found.has_value(), c.arrayResult == kNoError);
    if (found) {
      EXPECT_EQ(found->size(), c.arraySize);
    }
  }
}

TEST(JsonNamedReads, NestedObjectsHaveTheirOwnMembers) {
  const JsonObject o = JsonObject::parse(kNamedDocument);
  const JsonObject inner = JsonObject::parse(R"({"list":[{"n":1,"x":"in"}],"n":2,"x":"out"})")
                               .findNamedArray(u"list")
                               .value()
                               .objectAt(0);
  EXPECT_EQ(inner.getNamedNumber(u"n", 0), 1);
  EXPECT_EQ(inner.getNamedString(u"x"), u"in");
  EXPECT_EQ(o.getNamedNumber(u"n", 0), 2.5);
}

TEST(JsonNamedReads, EmptyObjectGivesDefaults) {
  const JsonObject o = JsonObject::empty();
  EXPECT_EQ(o.getNamedNumber(u"fontSize", 28), 28);
  EXPECT_EQ(o.getNamedString(u"text"), u"");
  EXPECT_FALSE(o.findNamedArray(u"fonts"));
}

// ---- Element reads -----------------------------------------------------------------------------

enum class Read { kObject, kString, kNumber };

struct ElementCase {
  uint32_t index;
  Read read;
  HResult expected;
};

constexpr std::string_view kElementDocument =
    R"({"a":[{"k":"v"},"s",3.5,null,true,[1],-0,false,"7"]})";

constexpr ElementCase kElementCases[] = {
    {0, Read::kObject, kNoError},
    {0, Read::kString, kJsonWrongType},
    {0, Read::kNumber, kJsonWrongType},
    {1, Read::kString, kNoError},
    {1, Read::kObject, kJsonWrongType},
    {1, Read::kNumber, kJsonWrongType},
    {2, Read::kNumber, kNoError},
    {2, Read::kString, kJsonWrongType},
    {3, Read::kObject, kJsonWrongType},
    {3, Read::kString, kJsonWrongType},
    {3, Read::kNumber, kJsonWrongType},
    {4, Read::kNumber, kJsonWrongType},
    {5, Read::kObject, kJsonWrongType},
    {5, Read::kNumber, kJsonWrongType},
    {6, Read::kNumber, kNoError},
    {7, Read::kNumber, kJsonWrongType},
    {8, Read::kNumber, kJsonWrongType},  // a numeral in a string is not a number
    {9, Read::kObject, kJsonIndexOutOfRange},
    {9, Read::kString, kJsonIndexOutOfRange},
    {9, Read::kNumber, kJsonIndexOutOfRange},
    {0xFFFFFFFFu, Read::kNumber, kJsonIndexOutOfRange},
};

TEST(JsonElementReads, RaiseForWrongTypeOrIndex) {
  const JsonArray a = JsonObject::parse(kElementDocument).findNamedArray(u"a").value();
  ASSERT_EQ(a.size(), 9u);
  for (const ElementCase& c : kElementCases) {
    SCOPED_TRACE(testing::Message() << "index " << c.index << " read " << int(c.read));
    try {
      switch (c.read) {
        case Read::kObject:
          EXPECT_EQ(a.objectAt(c.index).getNamedString(u"k"), u"v");
          break;
        case Read::kString:
          // The non-raising reads answer nothing wherever the raising one raises.
          EXPECT_EQ(a.findStringAt(c.index).has_value(), c.expected == kNoError);
          if (c.expected != kNoError) continue;
          EXPECT_EQ(a.findStringAt(c.index), u"s");
          break;
        case Read::kNumber:
          EXPECT_EQ(a.findNumberAt(c.index).has_value(), c.expected == kNoError);
          if (c.expected != kNoError) continue;
          EXPECT_EQ(a.findNumberAt(c.index), c.index == 2 ? 3.5 : 0.0);
          break;
      }
      EXPECT_EQ(c.expected, kNoError);
    } catch (const JsonError& e) {
      EXPECT_EQ(e.code(), c.expected);
    }
  }
}

TEST(JsonElementReads, IndexIntoInterleavedContainers) {
  // Nested arrays close before their parent; element i must still be the i-th element.
  std::string text = R"({"list":[)";
  constexpr int kCount = 1000;
  for (int i = 0; i < kCount; ++i) {
    if (i) text += ',';
    text += "{\"i\":" + std::to_string(i) + ",\"v\":[" + std::to_string(i) + ",[" +
            std::to_string(-i) + "],{\"w\":[]}]}";
  }
  text += "],\"tail\":[\"end\"]}";
  const JsonObject root = JsonObject::parse(text);
  const JsonArray list = root.findNamedArray(u"list").value();
  ASSERT_EQ(list.size(), uint32_t{kCount});
  for (uint32_t i = 0; i < kCount; i += 37) {
    SCOPED_TRACE(i);
    const JsonObject item = list.objectAt(i);
    EXPECT_EQ(item.getNamedNumber(u"i", -1), i);
    const JsonArray v = item.findNamedArray(u"v").value();
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(v.findNumberAt(0), i);
    EXPECT_EQ(v.objectAt(2).findNamedArray(u"w").value().size(), 0u);
  }
  EXPECT_EQ(root.findNamedArray(u"tail").value().findStringAt(0), u"end");
}

TEST(JsonHandles, OutliveTheRootHandle) {
  JsonArray fonts = [] {
    return JsonObject::parse(R"({"fonts":[{"fontId":"a"},{"fontId":"b"}]})")
        .findNamedArray(u"fonts")
        .value();
  }();
  EXPECT_EQ(fonts.objectAt(1).getNamedString(u"fontId"), u"b");
}

}  // namespace
}  // namespace kfp
