// Registered descriptors resolved against the fonts installed on this machine (the packages that
// scripts/install-deps installs), measured and drawn through the real renderer.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/message_types.h"
#include "support/e2e_renderer.h"

namespace kfp::test {
namespace {

using client::FontDescriptor;
using client::LayoutRequest;

struct LookupCase {
  const char* name;
  FontDescriptor font;
  const char* error;  // empty: resolves
};

const LookupCase kLookupCases[] = {
    {"PostScript name", {.fontId = "ps", .postScriptName = "DejaVuSans-Bold"}, ""},
    {"PostScript name, any case", {.fontId = "ps-case", .postScriptName = "dejavusans-bold"}, ""},
    {"PostScript name beats wrong family names",
     {.fontId = "ps-wins", .familyName = "Wrong Family", .postScriptName = "DejaVuSerif"},
     ""},
    {"full name", {.fontId = "full", .fullName = "DejaVu Sans Mono Bold"}, ""},
    {"native full name", {.fontId = "nfull", .nativeFullName = "DejaVu Serif Bold"}, ""},
    {"family name", {.fontId = "family", .familyName = "DejaVu Sans", .styleName = "Bold"}, ""},
    {"native family name", {.fontId = "nfamily", .nativeFamilyName = "Noto Sans Arabic"}, ""},
    {"localized family name",
     {.fontId = "ja", .familyName = "VL \xe3\x82\xb4\xe3\x82\xb7\xe3\x83\x83\xe3\x82\xaf"},
     ""},
    {"variable font family", {.fontId = "inter", .familyName = "Inter", .styleName = "Bold"}, ""},
    {"bitmap-only family through the GDI-style path",
     {.fontId = "terminus", .familyName = "Terminus"},
     ""},
    {"colour font", {.fontId = "emoji", .familyName = "Noto Color Emoji"}, ""},
    {"nothing installed has the names",
     {.fontId = "none",
      .familyName = "No Such Family",
      .fullName = "No Such Family Bold",
      .postScriptName = "NoSuchFamily-Bold"},
     "FONT_NOT_FOUND"},
    {"no substitute for a near miss",
     {.fontId = "near", .familyName = "DejaVu Sanz"},
     "FONT_NOT_FOUND"},
    {"no names at all", {.fontId = "empty"}, "FONT_NOT_FOUND"},
};

class InstalledFontsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(session_.started());
    std::vector<FontDescriptor> fonts;
    for (const auto& c : kLookupCases) fonts.push_back(c.font);
    ASSERT_TRUE(session_.client().registerFontsAndWait(fonts));
  }
  void TearDown() override { EXPECT_TRUE(session_.expectCleanEnd()); }

  LayoutRequest request(std::vector<std::string> ids, std::string text = "Hamburgefonstiv") {
    LayoutRequest r;
    r.generation = ++generation_;
    r.text = std::move(text);
    r.fontIds = std::move(ids);
    return r;
  }

  RendererSession session_{kRendererPath};
  uint64_t generation_ = 0;
};

TEST_F(InstalledFontsTest, ResolvesByEveryKindOfName) {
  std::vector<std::string> ids;
  for (const auto& c : kLookupCases) ids.push_back(c.font.fontId);
  ids.push_back("unregistered");
  const auto result = session_.client().measureAndWait(request(ids));
  ASSERT_TRUE(result) << result.error();
  ASSERT_EQ(result->items.size(), ids.size());
  for (size_t i = 0; i < std::size(kLookupCases); ++i) {
    const auto& c = kLookupCases[i];
    const auto& item = result->items[i];
    SCOPED_TRACE(c.name);
    EXPECT_EQ(item.fontId, c.font.fontId);
    EXPECT_EQ(item.resolved, std::string(c.error).empty());
    EXPECT_EQ(item.error, c.error);
    if (item.resolved) {
      // The emoji font draws Latin letters as wide .notdef boxes, which wrap.
      if (c.font.fontId != "emoji") {
        EXPECT_EQ(item.lineCount, 1u);
      }
      EXPECT_GT(item.height, 10.0);
    }
  }
  EXPECT_EQ(result->items.back().error, "FONT_NOT_REGISTERED");
}

TEST_F(InstalledFontsTest, RenderStreamsOneFramePerIdInOrder) {
  const std::vector<std::string> ids = {"family", "none", "family", "terminus", "unregistered"};
  const auto results = session_.client().renderAndWait(request(ids));
  ASSERT_TRUE(results) << results.error();
  ASSERT_EQ(results->size(), ids.size());
  for (size_t i = 0; i < ids.size(); ++i) {
    const auto& r = (*results)[i];
    SCOPED_TRACE(ids[i]);
    EXPECT_EQ(r.fontId, ids[i]);
    EXPECT_EQ(r.generation, generation_);
    if (r.resolved) {
      EXPECT_EQ(r.pixelFormat, "A8");
      EXPECT_EQ(r.stride, r.width);
      EXPECT_EQ(r.pixels.size(), size_t(r.width) * r.height);
      EXPECT_EQ(r.width, 300u);
    } else {
      EXPECT_TRUE(r.pixels.empty());
    }
  }
  EXPECT_TRUE((*results)[0].resolved);
  EXPECT_EQ((*results)[1].error, "FONT_NOT_FOUND");
  EXPECT_EQ((*results)[0].pixels, (*results)[2].pixels);  // same id, same drawing
  EXPECT_TRUE((*results)[3].resolved);
  EXPECT_EQ((*results)[4].error, "FONT_NOT_REGISTERED");
}

TEST_F(InstalledFontsTest, StaleGenerationsAreDroppedAgainstRealFonts) {
  ASSERT_TRUE(session_.client().setGeneration(5));
  LayoutRequest stale = request({"family"});
  stale.generation = 5;
  ASSERT_TRUE(session_.client().measure(stale));
  ASSERT_TRUE(session_.client().render(stale));
  EXPECT_TRUE(session_.expectNothingPending());
  LayoutRequest fresh = request({"family"});
  fresh.generation = 6;
  for (int i = 0; i < 2; ++i) {
    const auto result = session_.client().measureAndWait(fresh);
    ASSERT_TRUE(result) << result.error();
    EXPECT_TRUE(result->items[0].resolved);
  }
}

}  // namespace
}  // namespace kfp::test
