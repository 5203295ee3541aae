// A font file rewritten or truncated while the renderer has its face cached (what `cp new.ttf
// installed.ttf` does during a font update): the renderer stays alive, the font gives a per-font
// error or keeps drawing from data it still holds, and after ClearCache the new file is read.
// Each case runs on a private fontconfig configuration over a copy of the font in a temporary
// directory; installed files are never touched.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "support/e2e_renderer.h"
#include "support/fontconfig_file.h"
#include "support/installed_fonts.h"

namespace kfp::test {
namespace {

namespace fs = std::filesystem;
using client::LayoutRequest;

constexpr char kDejaVuSans[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr char kDejaVuSansBold[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
constexpr char kColorEmoji[] = "/usr/share/fonts/truetype/noto/NotoColorEmoji.ttf";

// Rewrites `target` in place, as cp does: same inode, truncated, then the new bytes.
void overwriteInPlace(const fs::path& target, const fs::path& source) {
  std::ifstream in(source, std::ios::binary);
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  out << in.rdbuf();
}

// Rewrites 4 KiB in the middle of the file, size unchanged, and puts the modification time back
// as `touch -r` from a saved reference would.
void rewriteSameSizeKeepingTime(const fs::path& file) {
  struct stat before {};
  ASSERT_EQ(stat(file.c_str(), &before), 0);
  const int fd = open(file.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  const std::string junk(4096, '\x5A');
  ASSERT_EQ(pwrite(fd, junk.data(), junk.size(), before.st_size / 2), ssize_t(junk.size()));
  close(fd);
  const timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
}

struct Change {
  const char* name;
  const char* font;    // the installed font copied into the private directory
  const char* family;  // how it is registered
  std::function<void(const fs::path&)> change;
  bool keepsDrawing;        // the Render after the change still draws the font
  bool resolvesAfterClear;  // a fresh resolution after ClearCache finds a usable face
};

class ChangedFontFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ = fs::path(::testing::TempDir()) / ("changed_fonts_" + std::to_string(getpid()));
    fs::remove_all(directory_);
    fs::create_directories(directory_ / "fonts");
  }
  void TearDown() override { fs::remove_all(directory_); }

  // A session whose fontconfig sees only a copy of `font`; returns the copy's path.
  fs::path start(const char* font) {
    const fs::path copy = directory_ / "fonts" / fs::path(font).filename();
    fs::copy_file(font, copy, fs::copy_options::overwrite_existing);
    const fs::path config = directory_ / "fonts.conf";
    writeFontconfigFile(config, directory_ / "fonts", directory_ / "cache");
    setenv("FONTCONFIG_FILE", config.c_str(), 1);
    session_ = std::make_unique<RendererSession>(kRendererPath);
    unsetenv("FONTCONFIG_FILE");
    return copy;
  }

  LayoutRequest request(const char* text) {
    LayoutRequest r;
    r.generation = ++generation_;
    r.text = text;
    r.fontIds = {"font"};
    return r;
  }

  fs::path directory_;
  std::unique_ptr<RendererSession> session_;
  uint64_t generation_ = 0;
};

TEST_F(ChangedFontFileTest, TheRendererOutlivesFontFilesChangedInUse) {
  KFP_REQUIRE_INSTALLED_FONT(
      fs::exists(kDejaVuSans) && fs::exists(kDejaVuSansBold) && fs::exists(kColorEmoji),
      "DejaVu Sans, DejaVu Sans Bold or Noto Color Emoji");
  const auto truncateTo = [](off_t size) {
    return [size](const fs::path& file) { ASSERT_EQ(truncate(file.c_str(), size), 0); };
  };
  const Change kChanges[] = {
      {"truncated to 4096 bytes", kDejaVuSans, "DejaVu Sans", truncateTo(4096), false, false},
      {"truncated to 0 bytes", kDejaVuSans, "DejaVu Sans", truncateTo(0), false, false},
      {"cp of a smaller font over it", kDejaVuSans, "DejaVu Sans",
       [](const fs::path& file) { overwriteInPlace(file, kDejaVuSansBold); }, false, true},
      {"colour bitmap font truncated to 4096 bytes", kColorEmoji, "Noto Color Emoji",
       truncateTo(4096), false, false},
      // A new file renamed over the old one leaves the mapped inode intact.
      {"another font renamed over it", kDejaVuSans, "DejaVu Sans",
       [this](const fs::path& file) {
         const fs::path staged = directory_ / "staged.ttf";
         fs::copy_file(kDejaVuSansBold, staged, fs::copy_options::overwrite_existing);
         fs::rename(staged, file);
       },
       true, true},
  };
  for (const Change& c : kChanges) {
    SCOPED_TRACE(c.name);
    const fs::path file = start(c.font);
    ASSERT_TRUE(session_->started());
    ASSERT_TRUE(
        session_->client().registerFontsAndWait({{.fontId = "font", .familyName = c.family}}));
    const char* text = c.font == kColorEmoji ? "\xf0\x9f\x98\x80" : "a";
    const auto before = session_->client().measureAndWait(request(text));
    ASSERT_TRUE(before) << before.error();
    ASSERT_TRUE(before->items[0].resolved) << before->items[0].error;

    c.change(file);

    const auto rendered = session_->client().renderAndWait(request(text));
    ASSERT_TRUE(rendered) << rendered.error();
    ASSERT_EQ(rendered->size(), 1u);
    const client::RenderResult& r = (*rendered)[0];
    EXPECT_EQ(r.resolved, c.keepsDrawing) << r.error;
    EXPECT_EQ(r.error, c.keepsDrawing ? "" : "TEXT_FORMAT_FAILED");
    EXPECT_TRUE(session_->expectNothingPending());

    ASSERT_TRUE(session_->client().clearCache());
    const auto after = session_->client().measureAndWait(request(text));
    ASSERT_TRUE(after) << after.error();
    EXPECT_EQ(after->items[0].resolved, c.resolvesAfterClear) << after->items[0].error;
    EXPECT_TRUE(session_->expectCleanEnd());
    session_.reset();
  }
}

// Every kind of change, made between a Measure and a Render of the same text, or after a Render
// and before a Render of a text not drawn yet (glyphs not in any cache): the font draws as before
// only when its mapped bytes cannot have changed, and otherwise gives the changed-file error; the
// renderer answers the next Ping either way.
TEST_F(ChangedFontFileTest, EveryChangeGivesTheOldPictureOrTheChangedFileError) {
  if (!fs::exists(kDejaVuSans) || !fs::exists(kDejaVuSansBold)) {
    GTEST_SKIP() << "test fonts not installed";
  }
  struct Operation {
    const char* name;
    std::function<void(const fs::path&)> change;
    bool keepsDrawing;
  };
  const Operation kOperations[] = {
      {"cp over", [](const fs::path& f) { overwriteInPlace(f, kDejaVuSansBold); }, false},
      {"truncate", [](const fs::path& f) { ASSERT_EQ(truncate(f.c_str(), 4096), 0); }, false},
      {"append",
       [](const fs::path& f) {
         std::ofstream(f, std::ios::binary | std::ios::app) << std::string(5000, '\0');
       },
       false},
      {"same-size rewrite, touch -r", rewriteSameSizeKeepingTime, false},
      {"delete after write",
       [](const fs::path& f) {
         overwriteInPlace(f, kDejaVuSansBold);
         fs::remove(f);
       },
       false},
      {"rename over",
       [this](const fs::path& f) {
         const fs::path staged = directory_ / "staged.ttf";
         fs::copy_file(kDejaVuSansBold, staged, fs::copy_options::overwrite_existing);
         fs::rename(staged, f);
       },
       true},
  };
  struct Timing {
    const char* name;
    bool renderFirst;   // a Render rather than a Measure before the change
    const char* after;  // the text of the Render after it
  };
  const Timing kTimings[] = {{"between requests", false, "Hamburg"},
                             {"after use, with new text", true, "Zy\xc3\xa6 0123 \xc3\x9f"}};
  for (const Timing& timing : kTimings) {
    for (const Operation& operation : kOperations) {
      SCOPED_TRACE(std::string(operation.name) + ", " + timing.name);
      const fs::path file = start(kDejaVuSans);
      ASSERT_TRUE(session_->started());
      ASSERT_TRUE(session_->client().registerFontsAndWait(
          {{.fontId = "font", .familyName = "DejaVu Sans"}}));
      if (timing.renderFirst) {
        const auto before = session_->client().renderAndWait(request("Hamburg"));
        ASSERT_TRUE(before) << before.error();
        ASSERT_TRUE((*before)[0].resolved) << (*before)[0].error;
      } else {
        const auto before = session_->client().measureAndWait(request("Hamburg"));
        ASSERT_TRUE(before) << before.error();
        ASSERT_TRUE(before->items[0].resolved) << before->items[0].error;
      }

      operation.change(file);

      for (int round = 0; round < 2; ++round) {
        const auto rendered = session_->client().renderAndWait(request(timing.after));
        ASSERT_TRUE(rendered) << rendered.error();
        ASSERT_EQ(rendered->size(), 1u);
        const client::RenderResult& r = (*rendered)[0];
        EXPECT_EQ(r.resolved, operation.keepsDrawing) << r.error;
        EXPECT_EQ(r.error, operation.keepsDrawing ? "" : "TEXT_FORMAT_FAILED");
      }
      EXPECT_TRUE(session_->expectNothingPending());
      EXPECT_TRUE(session_->expectCleanEnd());
      session_.reset();
    }
  }
}

}  // namespace
}  // namespace kfp::test
