// The renderer started with the process state a host may leave to its children: SIGBUS or SIGIO
// blocked or ignored, standard streams in non-blocking mode. Neither may switch off the
// changed-font protections, swallow a SIGBUS that is not a fault in a font mapping, or break a
// frame in two. The state is set up by a test launcher that execs the renderer in place, since the
// client resets the signal state of its children.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/e2e_renderer.h"
#include "support/fontconfig_file.h"

namespace kfp::test {
namespace {

namespace fs = std::filesystem;
using client::LayoutRequest;
using client::ProcessExit;

constexpr char kDejaVuSans[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr char kDejaVuSansBold[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";

struct SpawnState {
  const char* name;
  std::vector<std::string> launcherOptions;
};

const SpawnState kSignalStates[] = {
    {"signals as the client leaves them", {}},
    {"SIGIO blocked", {"--block=IO"}},
    {"SIGIO ignored", {"--ignore=IO"}},
    {"SIGBUS blocked", {"--block=BUS"}},
    {"SIGBUS ignored", {"--ignore=BUS"}},
    {"SIGBUS and SIGIO blocked", {"--block=BUS", "--block=IO"}},
};

class InheritedStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KFP_SKIP_UNDER_LAUNCHER();
    if (!fs::exists(kDejaVuSans) || !fs::exists(kDejaVuSansBold)) {
      GTEST_FAIL() << "test fonts not installed";
    }
    directory_ = fs::path(::testing::TempDir()) / ("inherited_state_" + std::to_string(getpid()));
    fs::remove_all(directory_);
    fs::create_directories(directory_ / "fonts");
    font_ = directory_ / "fonts" / "DejaVuSans.ttf";
    config_ = directory_ / "fonts.conf";
    writeFontconfigFile(config_, directory_ / "fonts", directory_ / "cache");
  }
  void TearDown() override {
    session_.reset();
    if (!directory_.empty()) fs::remove_all(directory_);
  }

  // A renderer in `state` whose fontconfig sees only a fresh copy of DejaVu Sans, registered as
  // "font" and measured once, so that its file is mapped and watched.
  ::testing::AssertionResult startWithMappedFont(const SpawnState& state) {
    fs::copy_file(kDejaVuSans, font_, fs::copy_options::overwrite_existing);
    std::vector<std::string> args = state.launcherOptions;
    args.push_back("--");
    args.push_back(kRendererPath);
    setenv("FONTCONFIG_FILE", config_.c_str(), 1);
    session_ = std::make_unique<RendererSession>(KFP_INHERITED_STATE_LAUNCHER, args);
    unsetenv("FONTCONFIG_FILE");
    if (auto r = session_->started(); !r) return r;
    if (!session_->client().registerFontsAndWait(
            {{.fontId = "font", .familyName = "DejaVu Sans"}})) {
      return ::testing::AssertionFailure() << "registration failed";
    }
    const auto measured = session_->client().measureAndWait(request("a"));
    if (!measured || !measured->items[0].resolved) {
      return ::testing::AssertionFailure() << "the font did not resolve before the change";
    }
    return ::testing::AssertionSuccess();
  }

  LayoutRequest request(const char* text) {
    LayoutRequest r;
    r.generation = ++generation_;
    r.text = text;
    r.fontIds = {"font"};
    return r;
  }

  fs::path directory_, font_, config_;
  std::unique_ptr<RendererSession> session_;
  uint64_t generation_ = 0;
};

TEST_F(InheritedStateTest, ChangedFontsAreCaughtWhateverTheInheritedSignals) {
  for (const SpawnState& state : kSignalStates) {
    SCOPED_TRACE(state.name);
    ASSERT_TRUE(startWithMappedFont(state));
    // Rewritten in place, as cp does: only the watch (SIGIO) tells the renderer to look.
    {
      std::ifstream in(kDejaVuSansBold, std::ios::binary);
      std::ofstream out(font_, std::ios::binary | std::ios::trunc);
      out << in.rdbuf();
    }
    const auto rendered = session_->client().renderAndWait(request("a"));
    ASSERT_TRUE(rendered) << rendered.error() << " ("
                          << session_->process().waitForExit(Milliseconds(0)).describe() << ")";
    ASSERT_EQ(rendered->size(), 1u);
    EXPECT_FALSE((*rendered)[0].resolved);
    EXPECT_EQ((*rendered)[0].error, "TEXT_FORMAT_FAILED");
    EXPECT_TRUE(session_->expectCleanEnd());
  }
}

TEST_F(InheritedStateTest, AReadPastTheEndOfAShrunkFontIsSurvivedWhateverTheInheritedSignals) {
  for (const SpawnState& state : kSignalStates) {
    SCOPED_TRACE(state.name);
    // A second link to the mapped inode, made before the renderer starts. Another file renamed over
    // the installed path keeps the mapped inode alive, and the identity check rightly calls that no
    // change; the old inode is then truncated through the second link, so the next read of a glyph
    // not drawn yet lands past its end: a real bus error at an address inside the mapping.
    const fs::path link = directory_ / "second-link.ttf";
    fs::remove(link);
    fs::copy_file(kDejaVuSans, font_, fs::copy_options::overwrite_existing);
    fs::create_hard_link(font_, link);
    ASSERT_TRUE(startWithMappedFont(state));
    const fs::path staged = directory_ / "staged.ttf";
    fs::copy_file(kDejaVuSansBold, staged, fs::copy_options::overwrite_existing);
    fs::rename(staged, font_);
    ASSERT_EQ(truncate(link.c_str(), 0), 0);

    const auto rendered = session_->client().renderAndWait(request("Wxyz"));
    ASSERT_TRUE(rendered) << rendered.error() << " ("
                          << session_->process().waitForExit(Milliseconds(0)).describe() << ")";
    ASSERT_EQ(rendered->size(), 1u);
    EXPECT_FALSE((*rendered)[0].resolved);
    EXPECT_TRUE(session_->expectCleanEnd());
    fs::remove(link);
  }
}

TEST_F(InheritedStateTest, ASigbusSentToTheRendererEndsItWhateverTheInheritedSignals) {
  for (const SpawnState& state : kSignalStates) {
    SCOPED_TRACE(state.name);
    // With a font mapped, the bus-error guard is installed: a SIGBUS from kill is not a fault in
    // one of its mappings and must take the default action.
    ASSERT_TRUE(startWithMappedFont(state));
    ASSERT_TRUE(session_->expectNothingPending());
    ASSERT_EQ(kill(session_->process().pid(), SIGBUS), 0);
    const ProcessExit exit = session_->process().waitForExit(kExitTimeout);
    EXPECT_EQ(exit.kind, ProcessExit::Kind::kSignaled) << exit.describe();
    EXPECT_EQ(exit.value, SIGBUS) << exit.describe();
    session_.reset();
  }
}

struct StreamMode {
  const char* name;
  std::vector<std::string> launcherOptions;
};

// Frames of several MiB against a 1 MiB pipe: writes stop part-way until the host reads. Before
// the first request the renderer finds its input empty.
TEST_F(InheritedStateTest, NonBlockingStandardStreamsCarryWholeFrames) {
  const StreamMode kModes[] = {
      {"stdin non-blocking", {"--nonblock=0"}},
      {"stdout non-blocking", {"--nonblock=1"}},
      {"both non-blocking", {"--nonblock=0", "--nonblock=1"}},
  };
  for (const StreamMode& mode : kModes) {
    SCOPED_TRACE(mode.name);
    fs::copy_file(kDejaVuSans, font_, fs::copy_options::overwrite_existing);
    std::vector<std::string> args = mode.launcherOptions;
    args.push_back("--");
    args.push_back(kRendererPath);
    setenv("FONTCONFIG_FILE", config_.c_str(), 1);
    session_ = std::make_unique<RendererSession>(KFP_INHERITED_STATE_LAUNCHER, args);
    unsetenv("FONTCONFIG_FILE");
    ASSERT_TRUE(session_->started());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(session_->expectNothingPending());
    std::vector<client::FontDescriptor> fonts;
    LayoutRequest big;
    big.generation = ++generation_;
    big.text = "Whole frames through a non-blocking pipe";
    big.fontSize = 120;
    big.width = 2000;
    big.dpiScale = 4;
    for (const char* id : {"f1", "f2", "f3", "f4"}) {
      fonts.push_back({.fontId = id, .familyName = "DejaVu Sans"});
      big.fontIds.push_back(id);
    }
    ASSERT_TRUE(session_->client().registerFontsAndWait(fonts));
    const auto rendered = session_->client().renderAndWait(big);
    ASSERT_TRUE(rendered) << rendered.error() << " ("
                          << session_->process().waitForExit(Milliseconds(0)).describe() << ")";
    ASSERT_EQ(rendered->size(), 4u);
    for (const client::RenderResult& r : *rendered) {
      EXPECT_TRUE(r.resolved) << r.error;
      EXPECT_EQ(r.width, 8000u);
      EXPECT_GT(size_t(r.height) * r.stride, size_t(2) << 20);
      EXPECT_EQ(r.pixels.size(), size_t(r.height) * r.stride);
    }
    EXPECT_TRUE(session_->expectCleanEnd());
    session_.reset();
  }
}

}  // namespace
}  // namespace kfp::test
