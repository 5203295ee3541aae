// The renderer as a process: command line, exit codes, and what happens when the host closes
// either end of the pipes.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "protocol/message_types.h"
#include "support/e2e_renderer.h"

namespace kfp::test {
namespace {

TEST(VersionTest, AnyArgumentTextContainingTheWordPrintsTheIdentity) {
  const std::vector<std::vector<std::string>> cases = {
      {"--version"},
      {"x--versiony"},
      {"--verbose", "--version"},
      {"--version", "--extra", "arguments"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    // stdin stays open: the answer must come without reading it.
    RendererSession session(kRendererPath, args);
    ASSERT_TRUE(session.started());
    std::string out;
    EXPECT_TRUE(session.process().readOutputToEnd(out, kReplyTimeout));
    EXPECT_EQ(out, "KestFontPreviewRenderer 2\n");
    EXPECT_EQ(out.size(), 26u);
    EXPECT_TRUE(session.expectExit(0));
    EXPECT_TRUE(session.expectStderrEmpty());
  }
}

TEST(VersionTest, OtherSpellingsStartANormalRun) {
  const std::vector<std::vector<std::string>> cases = {
      {"--VERSION"}, {"--Version"}, {"-version"}, {"--versio"}, {"version"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    RendererSession session(kRendererPath, args);
    ASSERT_TRUE(session.started());
    EXPECT_TRUE(session.expectNothingPending());
    EXPECT_TRUE(session.expectCleanEnd());
  }
}

TEST(ExitCodeTest, EndOfInputBeforeAnyByte) {
  RendererSession session(kRendererPath);
  ASSERT_TRUE(session.started());
  EXPECT_TRUE(session.expectCleanEnd());
}

TEST(ExitCodeTest, UnusableStandardHandles) {
  KFP_SKIP_UNDER_LAUNCHER();
  // The shell closes the descriptor before the renderer starts; stderr goes to a file to be read.
  const std::string errorFile = ::testing::TempDir() + "renderer_stderr";
  for (const char* redirect : {"<&-", ">&-", "<&- >&-"}) {
    SCOPED_TRACE(redirect);
    const std::string command =
        std::string("exec '") + kRendererPath + "' " + redirect + " 2>'" + errorFile + "'";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
    std::ifstream errors(errorFile);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(errors), {}), "");
  }
}

TEST(StderrTest, AFontconfigConfigurationThatWarnsStaysSilent) {
  KFP_SKIP_UNDER_LAUNCHER();
  // A configuration fontconfig complains about, over the machine's own fonts.
  const std::string config = ::testing::TempDir() + "warning_fonts.conf";
  std::ofstream(config) << "<?xml version=\"1.0\"?>\n<fontconfig><no-such-element/>"
                        << "<include>/etc/fonts/fonts.conf</include></fontconfig>\n";
  setenv("FONTCONFIG_FILE", config.c_str(), 1);
  RendererSession session(kRendererPath);
  unsetenv("FONTCONFIG_FILE");
  ASSERT_TRUE(session.started());
  ASSERT_TRUE(session.client().registerFontsAndWait(
      {{.fontId = "known", .familyName = "DejaVu Sans"},
       {.fontId = "unknown", .familyName = "No Such Family"}}));
  client::LayoutRequest request;
  request.generation = 1;
  request.fontIds = {"known", "unknown"};
  const auto result = session.client().measureAndWait(request);
  ASSERT_TRUE(result) << result.error();
  EXPECT_TRUE(result->items[0].resolved);
  EXPECT_EQ(result->items[1].error, "FONT_NOT_FOUND");
  EXPECT_TRUE(session.expectCleanEnd());
}

// Libraries may print to standard output (fontconfig does with FC_DEBUG); the frame stream must
// carry nothing but frames all the same, from the first byte on.
TEST(StandardStreamsTest, LibraryDebugOutputNeverReachesTheFrames) {
  KFP_SKIP_UNDER_LAUNCHER();
  for (const char* level : {"4", "1024", "8191"}) {
    SCOPED_TRACE(level);
    setenv("FC_DEBUG", level, 1);
    RendererSession session(kRendererPath);
    unsetenv("FC_DEBUG");
    ASSERT_TRUE(session.started());
    EXPECT_TRUE(session.expectNothingPending());
    ASSERT_TRUE(
        session.client().registerFontsAndWait({{.fontId = "a", .familyName = "DejaVu Sans"}}));
    client::LayoutRequest request;
    request.generation = 1;
    request.fontIds = {"a"};
    const auto result = session.client().measureAndWait(request);
    ASSERT_TRUE(result) << result.error();
    EXPECT_TRUE(result->items[0].resolved);
    EXPECT_TRUE(session.expectCleanEnd());
  }
}

// A frame may be 64 MiB; its buffer must not stay with the process after it was handled.
TEST(StandardStreamsTest, ALargeFrameGivesItsBufferBack) {
  KFP_SKIP_UNDER_LAUNCHER();
  RendererSession session(kRendererPath);
  ASSERT_TRUE(session.started());
  ASSERT_TRUE(session.sendBytes(frameBytes(kPing, "", std::string(60u << 20, 'x'))));
  EXPECT_TRUE(session.expectReply(kPong, "{}"));
#ifndef KFP_SANITIZED
  // The sanitizers' allocator may hold a freed block of any size in quarantine until later frees
  // push it out, so only glibc's figure says whether the buffer went back.
  EXPECT_LT(anonymousBytes(session.process().pid()), 32u << 20);
#endif
  EXPECT_TRUE(session.expectCleanEnd());
}

// Standard input is a byte stream: carriage returns, line feeds and Ctrl-Z (the end of a file in
// a text-mode read) are frame bytes like any other.
TEST(StandardStreamsTest, InputBytesArriveUntranslated) {
  RendererSession session(kRendererPath);
  ASSERT_TRUE(session.started());
  ASSERT_TRUE(session.send(kPing, "{\r\n}"));
  EXPECT_TRUE(session.expectReply(kPong, "{}"));
  ASSERT_TRUE(session.send(kPing, "{\"a\":\"\x1a\"}"));  // a raw control character: not JSON
  EXPECT_TRUE(session.expectError("INVALID_JSON"));
  // Length 0x0A0D: the header itself starts with a carriage return and a line feed.
  const std::string padded = "{\"a\":\"" + std::string(0x0A0D - 5 - 8, 'x') + "\"}";
  const std::string frame = frameBytes(kPing, padded);
  ASSERT_EQ(frame.substr(0, 2), "\r\n");
  ASSERT_TRUE(session.sendBytes(frame + frameBytes(kPing, "[\n]")));
  EXPECT_TRUE(session.expectReply(kPong, "{}"));
  EXPECT_TRUE(session.expectError("INVALID_JSON"));
  EXPECT_TRUE(session.expectCleanEnd());
}

TEST(ExitCodeTest, ShutdownWhileInputStaysOpen) {
  RendererSession session(kRendererPath);
  ASSERT_TRUE(session.started());
  session.send(kShutdown, "{}");
  EXPECT_TRUE(session.expectExit(0));
  EXPECT_TRUE(session.expectOutputEnded());
  EXPECT_TRUE(session.expectStderrEmpty());
}

// With the host's read end closed, every reply write fails. Only a failed RenderResult ends the
// process (4); other failed writes are ignored and the loop goes on.
struct ClosedOutputCase {
  const char* name;
  std::vector<std::pair<uint8_t, std::string>> requests;
  int exitCode;
};

TEST(ClosedOutputTest, OnlyAFailedRenderResultEndsTheProcess) {
  const ClosedOutputCase cases[] = {
      {"render of an unregistered font", {{kRender, R"({"generation":1,"fontIds":["x"]})"}}, 4},
      {"render after failed writes of other replies",
       {{kPing, "{}"},
        {kHello, R"({"protocolVersion":1})"},
        {kMeasure, R"({"generation":1,"fontIds":["x"]})"},
        {kRegisterFonts, R"({"fonts":[]})"},
        {kPing, "[]"},
        {kRender, R"({"generation":2,"fontIds":["x","y"]})"}},
       4},
      {"measure only", {{kMeasure, R"({"generation":1,"fontIds":["x"]})"}}, 0},
      {"render without font ids writes nothing", {{kRender, R"({"generation":1})"}}, 0},
      {"stale render writes nothing",
       {{kSetGeneration, R"({"generation":3})"}, {kRender, R"({"generation":3,"fontIds":["x"]})"}},
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RendererSession session(kRendererPath);
    ASSERT_TRUE(session.started());
    session.process().closeOutput();
    for (const auto& [type, json] : c.requests) session.send(type, json);
    // For the exit-0 cases this is what ends the process; for exit 4 it must have ended already
    // or end on its own, and closing stdin changes nothing.
    session.process().closeInput();
    EXPECT_TRUE(session.expectExit(c.exitCode));
    EXPECT_TRUE(session.expectStderrEmpty());
  }
}

TEST(ClosedOutputTest, RenderFailureEndsTheProcessWithoutClosingInput) {
  RendererSession session(kRendererPath);
  ASSERT_TRUE(session.started());
  session.process().closeOutput();
  session.send(kRender, R"({"generation":1,"fontIds":["x"]})");
  EXPECT_TRUE(session.expectExit(4));
  EXPECT_TRUE(session.expectStderrEmpty());
}

}  // namespace
}  // namespace kfp::test
