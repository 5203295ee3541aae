#include "support/e2e_script.h"

#include <charconv>
#include <optional>

#include "protocol/message_types.h"

namespace kfp::test {
namespace {

struct NamedType {
  std::string_view name;
  uint8_t type;
};

constexpr NamedType kTypes[] = {
    {"Hello", kHello},
    {"HelloAck", kHelloAck},
    {"RegisterFonts", kRegisterFonts},
    {"FontsRegistered", kFontsRegistered},
    {"Measure", kMeasure},
    {"MeasureResult", kMeasureResult},
    {"Render", kRender},
    {"RenderResult", kRenderResult},
    {"SetGeneration", kSetGeneration},
    {"Ping", kPing},
    {"Pong", kPong},
    {"Shutdown", kShutdown},
    {"Error", kError},
    {"FatalError", kFatalError},
    {"ClearCache", kClearCache},
    {"BeginFonts", kBeginFonts},
    {"BeginFontsAck", kBeginFontsAck},
    {"FontChunk", kFontChunk},
    {"FontChunkAck", kFontChunkAck},
    {"CommitFonts", kCommitFonts},
};

std::optional<int> parseInt(std::string_view text) {
  int value = 0;
  auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<uint8_t> parseType(std::string_view word) {
  for (const auto& entry : kTypes) {
    if (entry.name == word) return entry.type;
  }
  auto number = parseInt(word);
  if (number && *number >= 0 && *number <= 255) return static_cast<uint8_t>(*number);
  return std::nullopt;
}

// Splits "word rest" at the first blank.
std::pair<std::string_view, std::string_view> splitWord(std::string_view text) {
  const size_t blank = text.find(' ');
  if (blank == std::string_view::npos) return {text, {}};
  return {text.substr(0, blank), text.substr(blank + 1)};
}

}  // namespace

std::string fontArray(size_t count, std::string_view idPrefix) {
  std::string out = "[";
  for (size_t i = 0; i < count; ++i) {
    if (i) out.push_back(',');
    out += "{\"fontId\":\"";
    out += idPrefix;
    out += std::to_string(i);
    out += "\"}";
  }
  out.push_back(']');
  return out;
}

std::string expandFontMacros(std::string_view json) {
  static constexpr std::string_view kMacro = "@fonts(";
  std::string out;
  for (;;) {
    const size_t at = json.find(kMacro);
    const size_t close = at == std::string_view::npos ? at : json.find(')', at);
    if (close == std::string_view::npos) break;
    out += json.substr(0, at);
    std::string_view count = json.substr(at + kMacro.size(), close - at - kMacro.size());
    const size_t comma = count.find(',');
    std::string_view idPrefix = "f";
    if (comma != std::string_view::npos) {
      idPrefix = count.substr(comma + 1);
      count = count.substr(0, comma);
    }
    out += fontArray(static_cast<size_t>(parseInt(count).value_or(0)), idPrefix);
    json.remove_prefix(close + 1);
  }
  out += json;
  return out;
}

::testing::AssertionResult runExchange(RendererSession& session, std::string_view script) {
  if (auto r = session.started(); !r) return r;
  bool ended = false;
  int lineNumber = 0;
  while (!script.empty()) {
    const size_t newline = script.find('\n');
    std::string_view line = script.substr(0, newline);
    script.remove_prefix(newline == std::string_view::npos ? script.size() : newline + 1);
    ++lineNumber;
    while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    if (line.empty() || line.front() == '#') continue;

    auto fail = [&](const std::string& why) {
      return ::testing::AssertionFailure() << "line " << lineNumber << " `" << line << "`: " << why;
    };
    if (ended) return fail("the renderer has already ended");
    auto [word, rest] = splitWord(line);
    if (word == ">" || word == "<") {
      auto [typeName, json] = splitWord(rest);
      auto type = parseType(typeName);
      if (!type) return fail("unknown message name");
      if (word == ">") {
        // A renderer that already quit makes the write fail; the next expectation reports that.
        session.send(*type, expandFontMacros(json));
      } else if (auto r = session.expectReply(*type, json); !r) {
        return fail(r.message());
      }
    } else if (word == "close") {
      session.process().closeInput();
    } else if (word == "exit") {
      auto code = parseInt(rest);
      if (!code) return fail("exit needs a code");
      if (auto r = session.expectExit(*code); !r) return fail(r.message());
      if (auto r = session.expectOutputEnded(); !r) return fail(r.message());
      ended = true;
    } else {
      return fail("unknown step");
    }
  }
  if (!ended) {
    if (auto r = session.expectCleanEnd(); !r) {
      return ::testing::AssertionFailure() << "at the end: " << r.message();
    }
  }
  return session.expectStderrEmpty();
}

void runExchanges(const std::string& rendererPath, const ExchangeCase* begin,
                  const ExchangeCase* end) {
  for (const ExchangeCase* c = begin; c != end; ++c) {
    SCOPED_TRACE(c->name);
    RendererSession session(rendererPath);
    EXPECT_TRUE(runExchange(session, c->script));
  }
}

}  // namespace kfp::test
