// Which simulations a Linux text format draws with: never a second bold on a face that is bold
// already, whether by its own flag or at the weight-axis value applied.

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>

#include "platform/linux/files/face_store.h"
#include "platform/linux/fonts/font_collection.h"
#include "platform/linux/fonts/font_index.h"
#include "platform/linux/fonts/font_index_names.h"
#include "platform/linux/raster/glyph_cache.h"
#include "platform/linux/text/text_engine.h"
#include "platform/linux/text/text_format.h"

namespace kfp::linux_backend {
namespace {

TEST(SimulationsFor, BoldOnlyForAClearlyLighterUnflaggedFace) {
  struct Case {
    const char* name;
    int weight, style;
    FaceStyle face;
    uint32_t expected;
  };
  const Case cases[] = {
      {"regular face, bold asked", 700, kStyleNormal, {400, kStyleNormal, false}, kSimulateBold},
      {"semi-bold asked of light", 600, kStyleNormal, {300, kStyleNormal, false}, kSimulateBold},
      {"bold face", 700, kStyleNormal, {700, kStyleNormal, false}, 0},
      {"gap too small", 700, kStyleNormal, {600, kStyleNormal, false}, 0},
      {"request below semi-bold", 550, kStyleNormal, {300, kStyleNormal, false}, 0},
      {"flagged bold at weight class 400", 700, kStyleNormal, {400, kStyleNormal, true}, 0},
      {"italic asked of upright", 400, kStyleItalic, {400, kStyleNormal, false}, kSimulateOblique},
      {"oblique asked of italic", 400, kStyleOblique, {400, kStyleItalic, false}, 0},
      {"both", 700, kStyleItalic, {400, kStyleNormal, false}, kSimulateBold | kSimulateOblique},
      {"flagged bold, italic asked",
       700,
       kStyleItalic,
       {400, kStyleNormal, true},
       kSimulateOblique},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(simulationsFor(c.weight, c.style, c.face), c.expected);
  }
}

TEST(DrawnWeight, FollowsTheAppliedWeightAxis) {
  FontRecord variable;
  variable.weight = 400;
  variable.axes = {{axisTag('o', 'p', 's', 'z'), 14, 14, 32}, {kWghtTag, 100, 400, 900}};
  FontRecord fixed;
  fixed.weight = 300;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    const char* name;
    const FontRecord* face;
    AxisValues applied;
    int expected;
  };
  const Case cases[] = {
      {"no values: the instance's weight", &variable, {}, 400},
      {"within the range", &variable, {{kWghtTag, 700}}, 700},
      {"clamped to the maximum", &variable, {{kWghtTag, 950}}, 900},
      {"clamped to the minimum", &variable, {{kWghtTag, 20}}, 100},
      {"last value wins", &variable, {{kWghtTag, 200}, {kWghtTag, 800}}, 800},
      {"not a number is skipped", &variable, {{kWghtTag, 600}, {kWghtTag, nan}}, 600},
      {"other axes do not count", &variable, {{axisTag('o', 'p', 's', 'z'), 32}}, 400},
      {"a static face keeps its weight", &fixed, {{kWghtTag, 700}}, 300},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(drawnWeight(*c.face, c.applied), c.expected);
  }
}

// Installed faces through the engine: the format's simulations once its axis values are set.
class InstalledFaceSimulations : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    index_ = FontIndex::build();
    store_ = FaceStore::create();
  }
  static void TearDownTestSuite() {
    index_.reset();
    store_.reset();
  }

  uint32_t simulations(std::u16string_view postScript, int weight, int style,
                       const AxisValues& axes) {
    std::span<const uint32_t> ids = index_->byPostScriptName(postScript);
    EXPECT_FALSE(ids.empty()) << "not installed";
    if (ids.empty()) return 0xFF;
    const FontRecord& record = index_->record(ids[0]);
    std::shared_ptr<FaceHandle> handle = store_->handle(record);
    std::shared_ptr<LoadedFace> face = handle ? store_->open(*handle) : nullptr;
    EXPECT_NE(face, nullptr);
    if (!face) return 0xFF;
    const std::vector<std::shared_ptr<LoadedFace>> faces{face};
    const std::vector<const FontRecord*> records{&record};
    auto collection = std::make_shared<LinuxFontCollection>(
        std::vector<std::shared_ptr<FaceHandle>>{handle}, faces, records);
    LinuxTextEngine engine(store_, index_);
    TextFormatDescription description;
    const std::u16string family = preferredName(record.typographicFamilyNames);
    description.familyName = family;
    description.fontCollection = collection;
    description.weight = weight;
    description.style = style;
    description.fontSize = 28;
    description.localeName = u"en-us";
    std::unique_ptr<TextFormat> format = engine.createTextFormat(description);
    EXPECT_NE(format, nullptr);
    if (!format) return 0xFF;
    format->setFontAxisValues(axes);
    return dynamic_cast<const LinuxTextFormat&>(*format).simulations();
  }

  static std::shared_ptr<FontIndex> index_;
  static std::shared_ptr<FaceStore> store_;
};
std::shared_ptr<FontIndex> InstalledFaceSimulations::index_;
std::shared_ptr<FaceStore> InstalledFaceSimulations::store_;

TEST_F(InstalledFaceSimulations, BoldFacesAreNotEmboldenedAgain) {
  struct Case {
    std::u16string_view postScript;
    int weight;
    AxisValues axes;
    uint32_t expected;
  };
  const Case cases[] = {
      // The variable font's default instance drawn at wght 700 is bold by itself.
      {u"Inter", 700, {{kWghtTag, 700}}, 0},
      {u"Inter", 900, {{kWghtTag, 900}}, 0},
      // Kept at its default weight, it still needs the simulation.
      {u"Inter", 700, {{kWghtTag, 400}}, kSimulateBold},
      // Bold by the font's own flag, weight class 400.
      {u"NotoNastaliqUrdu-Bold", 700, {{kWghtTag, 700}}, 0},
      {u"NotoSerifMyanmar-Bold", 700, {{kWghtTag, 700}}, 0},
      // A regular static face asked for bold is emboldened, as before.
      {u"DejaVuSans", 700, {{kWghtTag, 700}}, kSimulateBold},
      {u"NotoSans-Regular", 700, {{kWghtTag, 700}}, kSimulateBold},
      {u"DejaVuSans-Bold", 700, {{kWghtTag, 700}}, 0},
  };
  ASSERT_NE(index_, nullptr);
  ASSERT_NE(store_, nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.postScript.begin(), c.postScript.end()));
    EXPECT_EQ(simulations(c.postScript, c.weight, kStyleNormal, c.axes), c.expected);
  }
}

}  // namespace
}  // namespace kfp::linux_backend
