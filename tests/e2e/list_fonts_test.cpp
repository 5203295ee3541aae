// The renderer's own font list: every line it prints, registered back, resolves; and the host
// library reads that list or says why it cannot.

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "installed_font_list.h"
#include "support/e2e_renderer.h"

namespace kfp::test {
namespace {

using client::FontDescriptor;

TEST(ListFonts, EveryListedFontResolves) {
  std::vector<FontDescriptor> fonts;
  std::string error;
  // Under Wine the launcher runs the .exe, which lists the fonts Wine's DirectWrite knows.
  const bool wine = launcherInUse();
  ASSERT_TRUE(wine ? client::listInstalledFonts(launcherPath(), {kRendererPath}, fonts, error)
                   : client::listInstalledFonts(kRendererPath, fonts, error))
      << error;
  // The test font packages alone list far more than this; fewer means a broken listing.
  ASSERT_GT(fonts.size(), 100u);

  std::vector<std::string> ids;
  std::set<std::string> families;
  size_t withAxes = 0;
  for (size_t i = 0; i < fonts.size(); ++i) {
    fonts[i].fontId = std::to_string(i);
    ids.push_back(fonts[i].fontId);
    families.insert(fonts[i].familyName);
    withAxes += fonts[i].axes.empty() ? 0 : 1;
  }
  for (const char* family : {"DejaVu Sans", "Inter", "Noto Sans Arabic"}) {
    EXPECT_EQ(families.count(family), 1u) << family;
  }
  // Wine has neither the version-1 font set that gives axes nor the bitmap-only faces.
  if (!wine) {
    EXPECT_EQ(families.count("Terminus"), 1u);
    EXPECT_GT(withAxes, 10u);
  }

  RendererSession session(kRendererPath);
  ASSERT_TRUE(session.started());
  ASSERT_TRUE(session.client().registerFontsAndWait(fonts));
  client::LayoutRequest request;
  request.generation = 1;
  request.text = "Hamburgefonstiv";
  request.fontIds = ids;
  const auto result = session.client().measureAndWait(request);
  ASSERT_TRUE(result) << result.error();
  ASSERT_EQ(result->items.size(), ids.size());
  // Wine matches no font-set property and resolves every face through GDI, whose face names hold
  // 31 characters: a longer family name cannot be found there.
  constexpr size_t kGdiFaceNameChars = 31;
  size_t resolved = 0, beyondWine = 0;
  for (size_t i = 0; i < ids.size(); ++i) {
    const auto& item = result->items[i];
    resolved += item.resolved ? 1 : 0;
    if (wine && fonts[i].familyName.size() > kGdiFaceNameChars) {
      ++beyondWine;
      continue;
    }
    EXPECT_TRUE(item.resolved) << fonts[i].fullName << " (" << fonts[i].postScriptName
                               << "): " << item.error;
  }
  EXPECT_GE(resolved, ids.size() - beyondWine);
  EXPECT_LE(beyondWine, 2u);
  EXPECT_TRUE(session.expectCleanEnd());
}

TEST(ListFonts, RendererThatCannotListIsAnError) {
  const struct {
    const char* name;
    std::string path;
  } cases[] = {
      {"no such program", "/nonexistent/kest-font-preview-renderer"},
      {"program that fails", "/bin/false"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<FontDescriptor> fonts(1);
    std::string error;
    EXPECT_FALSE(client::listInstalledFonts(c.path, fonts, error));
    EXPECT_FALSE(error.empty());
  }
}

TEST(ListFonts, LinesReadAsDescriptors) {
  const struct {
    const char* name;
    const char* line;
    bool ok;
    size_t axes;
  } cases[] = {
      {"static face",
       R"({"familyName":"DejaVu Sans","fullName":"DejaVu Sans Bold","styleName":"Bold",)"
       R"("postScriptName":"DejaVuSans-Bold","designAxesData":[],"designVector":[]})",
       true, 0},
      {"variable face",
       R"({"familyName":"Inter","designAxesData":[{"tag":"wght","min":100,"max":900},)"
       R"({"tag":"slnt","min":-10,"max":0}],"designVector":[700,-10]})",
       true, 2},
      {"no axis arrays", R"({"familyName":"X"})", true, 0},
      {"axis arrays of different lengths",
       R"({"familyName":"X","designAxesData":[{"tag":"wght"}],"designVector":[]})", false, 0},
      {"tag of the wrong length",
       R"({"familyName":"X","designAxesData":[{"tag":"wg"}],"designVector":[1]})", false, 0},
      {"no family name", R"({"fullName":"X"})", false, 0},
      {"not JSON", "DejaVu Sans", false, 0},
      {"an array", "[]", false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FontDescriptor font;
    EXPECT_EQ(client::parseInstalledFontLine(c.line, font), c.ok);
    if (c.ok) {
      EXPECT_EQ(font.axes.size(), c.axes);
    }
  }
  FontDescriptor inter;
  ASSERT_TRUE(client::parseInstalledFontLine(cases[1].line, inter));
  EXPECT_EQ(inter.axes[1].tag, "slnt");
  EXPECT_EQ(inter.axes[1].min, -10);
  EXPECT_EQ(inter.axes[1].max, 0);
  EXPECT_EQ(inter.axes[1].value, -10);
}

}  // namespace
}  // namespace kfp::test
