// Which installed face a descriptor draws with: a family descriptor naming a style gets the face a
// name of that one face gets, never another face of the family with a synthetic slant or width.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/e2e_renderer.h"

namespace kfp::test {
namespace {

using client::FontDescriptor;
using client::LayoutRequest;
using client::RenderResult;

struct SameFaceCase {
  FontDescriptor byFamily;
  FontDescriptor byFaceName;  // a full or PostScript name that names exactly one face
  const char* text = "Hamburgefonstiv";
};

const SameFaceCase kSameFaceCases[] = {
    {{.fontId = "noto-i", .familyName = "Noto Sans", .styleName = "Italic"},
     {.fontId = "noto-i-full", .fullName = "Noto Sans Italic"}},
    {{.fontId = "noto-serif-bi", .familyName = "Noto Serif", .styleName = "Bold Italic"},
     {.fontId = "noto-serif-bi-full", .fullName = "Noto Serif Bold Italic"}},
    {{.fontId = "dv-o", .familyName = "DejaVu Sans", .styleName = "Oblique"},
     {.fontId = "dv-o-ps", .postScriptName = "DejaVuSans-Oblique"}},
    {{.fontId = "dv-serif-i", .familyName = "DejaVu Serif", .styleName = "Italic"},
     {.fontId = "dv-serif-i-ps", .postScriptName = "DejaVuSerif-Italic"}},
    {{.fontId = "dv-c", .familyName = "DejaVu Sans", .styleName = "Condensed"},
     {.fontId = "dv-c-ps", .postScriptName = "DejaVuSansCondensed"}},
    {{.fontId = "dv-cbo", .familyName = "DejaVu Sans", .styleName = "Condensed Bold Oblique"},
     {.fontId = "dv-cbo-ps", .postScriptName = "DejaVuSansCondensed-BoldOblique"}},
    {{.fontId = "dv-serif-ci", .familyName = "DejaVu Serif", .styleName = "Condensed Italic"},
     {.fontId = "dv-serif-ci-ps", .postScriptName = "DejaVuSerifCondensed-Italic"}},
    // The upright faces keep resolving as before.
    {{.fontId = "dv-b", .familyName = "DejaVu Sans", .styleName = "Bold"},
     {.fontId = "dv-b-ps", .postScriptName = "DejaVuSans-Bold"}},
    {{.fontId = "noto-r", .familyName = "Noto Sans"},
     {.fontId = "noto-r-full", .fullName = "Noto Sans Regular"}},
    // Both faces of this family say weight 400; only their style names tell them apart.
    {{.fontId = "my-r", .familyName = "Noto Serif Myanmar", .styleName = "Regular"},
     {.fontId = "my-r-ps", .postScriptName = "NotoSerifMyanmar-Regular"},
     "\u1019\u103c\u1014\u103a\u1019\u102c"},
    {{.fontId = "my-b", .familyName = "Noto Serif Myanmar", .styleName = "Bold"},
     {.fontId = "my-b-ps", .postScriptName = "NotoSerifMyanmar-Bold"},
     "\u1019\u103c\u1014\u103a\u1019\u102c"},
};

// Family names the fonts spell in two ways that differ only by blanks.
const char* const kBlankVariantFamilies[] = {
    "Noto Sans MeeteiMayek", "Noto Sans Meetei Mayek", "Noto Sans NewTaiLue",
    "Noto Sans OldPersian",  "Noto Sans PauCinHau",    "NotoSerifTamilSlanted",
};

// The rightmost inked column, or -1.
int inkRight(const RenderResult& r) {
  int right = -1;
  for (uint32_t y = 0; y < r.height; ++y) {
    for (uint32_t x = 0; x < r.width; ++x) {
      if (r.pixels[size_t(y) * r.stride + x] != 0) right = std::max(right, int(x));
    }
  }
  return right;
}

class FaceChoiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(session_.started());
    std::vector<FontDescriptor> fonts;
    for (const auto& c : kSameFaceCases) {
      fonts.push_back(c.byFamily);
      fonts.push_back(c.byFaceName);
    }
    fonts.push_back({.fontId = "dv", .familyName = "DejaVu Sans"});
    fonts.push_back({.fontId = "inter-ps-bold", .styleName = "Bold", .postScriptName = "Inter"});
    fonts.push_back({.fontId = "inter-bold", .familyName = "Inter", .styleName = "Bold"});
    for (const char* family : kBlankVariantFamilies) {
      fonts.push_back({.fontId = family, .familyName = family});
    }
    ASSERT_TRUE(session_.client().registerFontsAndWait(fonts));
  }
  void TearDown() override { EXPECT_TRUE(session_.expectCleanEnd()); }

  static LayoutRequest request(std::vector<std::string> ids, std::string text, double width) {
    LayoutRequest r;
    r.generation = 1;
    r.text = std::move(text);
    r.fontSize = 28;
    r.width = width;
    r.fontIds = std::move(ids);
    return r;
  }

  RendererSession session_{kRendererPath};
};

TEST_F(FaceChoiceTest, FamilyAndStyleDrawTheNamedFace) {
  for (const auto& c : kSameFaceCases) {
    SCOPED_TRACE(c.byFamily.fontId);
    const auto result = session_.client().renderAndWait(
        request({c.byFamily.fontId, c.byFaceName.fontId}, c.text, 420));
    ASSERT_TRUE(result) << result.error();
    ASSERT_EQ(result->size(), 2u);
    const RenderResult& family = (*result)[0];
    const RenderResult& face = (*result)[1];
    ASSERT_TRUE(family.error.empty()) << family.error;
    ASSERT_TRUE(face.error.empty()) << face.error;
    EXPECT_EQ(family.width, face.width);
    EXPECT_EQ(family.height, face.height);
    EXPECT_TRUE(family.pixels == face.pixels);
  }
}

TEST_F(FaceChoiceTest, ACondensedStyleMeasuresCondensed) {
  const auto result = session_.client().measureAndWait(
      request({"dv-c", "dv"}, "Hamburgefonstiv Hamburgefonstiv", 450));
  ASSERT_TRUE(result) << result.error();
  ASSERT_EQ(result->items.size(), 2u);
  EXPECT_EQ(result->items[0].lineCount, 1u);
  EXPECT_EQ(result->items[1].lineCount, 2u);
}

TEST_F(FaceChoiceTest, FamilyNamesDifferingOnlyByBlanksResolve) {
  std::vector<std::string> ids(std::begin(kBlankVariantFamilies), std::end(kBlankVariantFamilies));
  const auto result = session_.client().measureAndWait(request(ids, "abc", 400));
  ASSERT_TRUE(result) << result.error();
  ASSERT_EQ(result->items.size(), ids.size());
  for (const auto& item : result->items) {
    SCOPED_TRACE(item.fontId);
    EXPECT_TRUE(item.resolved);
    EXPECT_EQ(item.error, "");
  }
}

// The variable font drawn at wght 700 is bold already: no synthetic bold on top, so it is as wide
// as the bold instance the family form finds.
TEST_F(FaceChoiceTest, AVariableFontAtBoldIsNotEmboldenedAgain) {
  const auto result = session_.client().renderAndWait(
      request({"inter-ps-bold", "inter-bold"}, "Hamburgefonstiv", 500));
  ASSERT_TRUE(result) << result.error();
  ASSERT_EQ(result->size(), 2u);
  const int byPostScript = inkRight((*result)[0]);
  const int byFamily = inkRight((*result)[1]);
  ASSERT_GT(byFamily, 100);
  EXPECT_NEAR(byPostScript, byFamily, 2);
}

}  // namespace
}  // namespace kfp::test
