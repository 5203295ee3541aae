#include "fonts/font_registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/json.h"
#include "support/font_registry_probe.h"

namespace kfp {
namespace {

JsonArray fontsOf(const std::string& items) {
  return JsonObject::parse("{\"fonts\":[" + items + "]}").findNamedArray(u"fonts").value();
}

std::string descriptors(int first, int count) {
  std::string out;
  for (int i = first; i < first + count; ++i) {
    if (!out.empty()) out += ",";
    out += "{\"fontId\":\"f" + std::to_string(i) + "\",\"familyName\":\"DejaVu Sans\"}";
  }
  return out;
}

TEST(FontRegistry, BatchIsAllOrNothing) {
  struct Case {
    const char* name;
    std::string items;
    bool isChunk;
    uint64_t expected;
    bool accepted;
  };
  const Case cases[] = {
      {"valid", descriptors(0, 3), false, 3, true},
      {"empty id", R"({"fontId":"a"},{"fontId":""})", false, 2, false},
      {"missing id", R"({"fontId":"a"},{"familyName":"x"})", false, 2, false},
      {"id not a string", R"({"fontId":1})", false, 1, false},
      {"repeated id", R"({"fontId":"a"},{"fontId":"a"})", false, 2, false},
      {"ids differing in case", R"({"fontId":"a"},{"fontId":"A"})", false, 2, true},
      {"element not an object", R"({"fontId":"a"},5)", false, 2, false},
      {"more than expected", descriptors(0, 4), true, 3, false},
      {"chunk of 251", descriptors(0, 251), true, 300, false},
      {"chunk of 250", descriptors(0, 250), true, 300, true},
      {"no chunk limit for a whole registration", descriptors(0, 251), false, 251, true},
      {"empty chunk", "", true, 3, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FontRegistry registry;
    registry.beginRegistration(c.expected);
    const JsonArray fonts = fontsOf(c.items);
    EXPECT_EQ(registry.addFontBatch(fonts, c.isChunk), c.accepted);
    EXPECT_EQ(registry.receivedCount(), c.accepted ? fonts.size() : 0u);
    EXPECT_EQ(FontRegistryProbe::stagedFonts(registry).size(), registry.receivedCount());
    EXPECT_TRUE(FontRegistryProbe::registrationOpen(registry));
  }
}

TEST(FontRegistry, ChunksAccumulateAndRejectRepeatsAcrossChunks) {
  FontRegistry registry;
  registry.beginRegistration(3);
  ASSERT_TRUE(registry.addFontBatch(fontsOf(descriptors(0, 2)), true));
  EXPECT_FALSE(registry.addFontBatch(fontsOf(descriptors(1, 1)), true));
  EXPECT_EQ(registry.receivedCount(), 2u);
  EXPECT_FALSE(registry.commitRegistration());
  ASSERT_TRUE(registry.addFontBatch(fontsOf(descriptors(2, 1)), true));
  ASSERT_TRUE(registry.commitRegistration());
  EXPECT_EQ(registry.activeCount(), 3u);
  EXPECT_FALSE(FontRegistryProbe::registrationOpen(registry));
  EXPECT_TRUE(FontRegistryProbe::stagedFonts(registry).empty());
  EXPECT_EQ(FontRegistryProbe::expectedCount(registry), 0u);
}

TEST(FontRegistry, StagedFontsStayInvisibleUntilCommit) {
  FontRegistry registry;
  registry.beginRegistration(1);
  ASSERT_TRUE(registry.addFontBatch(fontsOf(descriptors(0, 1)), false));
  ASSERT_TRUE(registry.commitRegistration());

  registry.beginRegistration(1);
  ASSERT_TRUE(registry.addFontBatch(fontsOf(descriptors(5, 1)), true));
  EXPECT_EQ(registry.findRegisteredFont(u"f5"), nullptr);
  ASSERT_NE(registry.findRegisteredFont(u"f0"), nullptr);
  EXPECT_EQ(registry.findRegisteredFont(u"f0")->familyName, u"DejaVu Sans");

  ASSERT_TRUE(registry.commitRegistration());
  EXPECT_NE(registry.findRegisteredFont(u"f5"), nullptr);
  EXPECT_EQ(registry.findRegisteredFont(u"f0"), nullptr);  // replaced as a whole
}

TEST(FontRegistry, ClosedRegistryRefusesBatchesAndCommits) {
  FontRegistry registry;
  EXPECT_FALSE(registry.addFontBatch(fontsOf(""), true));
  EXPECT_FALSE(registry.commitRegistration());
  registry.beginRegistration(0);
  EXPECT_TRUE(registry.commitRegistration());
  EXPECT_EQ(registry.activeCount(), 0u);

  registry.beginRegistration(2);
  ASSERT_TRUE(registry.addFontBatch(fontsOf(descriptors(0, 1)), true));
  registry.abandonRegistration();
  EXPECT_FALSE(FontRegistryProbe::registrationOpen(registry));
  EXPECT_TRUE(FontRegistryProbe::stagedFonts(registry).empty());
  EXPECT_EQ(registry.receivedCount(), 0u);
  EXPECT_FALSE(registry.commitRegistration());
}

}  // namespace
}  // namespace kfp

namespace kfp {
namespace {

TEST(FontRegistry, AddFontKeepsTheStagedSetAndTheCountsTogether) {
  const struct {
    const char* name;
    bool open;
    uint64_t expected;
    std::vector<std::u16string> ids;
    std::vector<bool> accepted;
  } cases[] = {
      {"no registration open", false, 0, {u"a"}, {false}},
      {"distinct ids", true, 2, {u"a", u"b"}, {true, true}},
      {"empty id", true, 2, {u""}, {false}},
      {"repeated id", true, 2, {u"a", u"a"}, {true, false}},
      {"beyond the expected count", true, 1, {u"a", u"b"}, {true, false}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FontRegistry registry;
    if (c.open) registry.beginRegistration(c.expected);
    for (size_t i = 0; i < c.ids.size(); ++i) {
      EXPECT_EQ(registry.addFont(c.ids[i], RegisteredFont{}), c.accepted[i]);
    }
    EXPECT_EQ(FontRegistryProbe::stagedFonts(registry).size(), registry.receivedCount());
    const bool complete = c.open && registry.receivedCount() == c.expected;
    EXPECT_EQ(registry.commitRegistration(), complete);
  }
}

}  // namespace
}  // namespace kfp
