// A font file rewritten or truncated while the renderer has its face cached (what `cp new.ttf
// installed.ttf` does during a font update): the renderer stays alive, the font gives a per-font
// error or keeps drawing from data it still holds, and after ClearCache the new file is read.
// Each case runs on a private fontconfig configuration over a copy of the font in a temporary
// directory; installed files are never touched.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "support/e2e_renderer.h"
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
    std::ofstream(config) << "<?xml version=\"1.0\"?>\n<fontconfig><dir>"
                          << (directory_ / "fonts").string() << "</dir><cachedir>"
                          << (directory_ / "cache").string() << "</cachedir></fontconfig>\n";
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

}  // namespace
}  // namespace kfp::test
