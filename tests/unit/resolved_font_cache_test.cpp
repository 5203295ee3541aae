#include "layout/resolved_font_cache.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "host/renderer_context.h"
#include "protocol/message_types.h"
#include "support/fake_backend.h"
#include "support/registered_fonts.h"

namespace kfp {
namespace {

using testing::FakeBackend;
using testing::matchedFamily;

class ResolvedFontCacheTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(ctx.initialize()); }
  void registerFont(const std::u16string& id, const std::u16string& postScriptName) {
    RegisteredFont font;
    font.postScriptName = postScriptName;
    testing::activateFonts(ctx.registry(), {{id, font}});
  }
  size_t lookups() const { return backend.textEngine->systemFonts->propertyCalls.size(); }

  FakeBackend backend;
  RendererContext ctx{backend};
};

TEST_F(ResolvedFontCacheTest, OutcomesAreRememberedUntilCleared) {
  struct Case {
    const char* name;
    bool registeredFirst;
    std::string_view error;
  };
  const Case cases[] = {
      {"unregistered", false, errors::kFontNotRegistered},
      {"not found", true, errors::kFontNotFound},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ctx.resolvedFonts().clear();
    ctx.registry().clear();
    if (c.registeredFirst) registerFont(u"f", u"Missing-PS");

    ResolvedFont& first = ctx.resolvedFonts().resolveFont(ctx.platform(), ctx.registry(), u"f");
    EXPECT_TRUE(first.computed);
    EXPECT_EQ(first.error, c.error);
    const size_t lookupsAfterFirst = lookups();

    // The font becomes resolvable, but the cached failure stands.
    registerFont(u"f", u"Real-PS");
    backend.textEngine->systemFonts->onProperty(FontPropertyId::kPostScriptName, u"Real-PS",
                                                matchedFamily(u"Real"));
    ResolvedFont& second = ctx.resolvedFonts().resolveFont(ctx.platform(), ctx.registry(), u"f");
    EXPECT_EQ(&second, &first);
    EXPECT_EQ(second.error, c.error);
    EXPECT_EQ(lookups(), lookupsAfterFirst);

    ctx.resolvedFonts().clear();
    EXPECT_EQ(ctx.resolvedFonts().size(), 0u);
    ResolvedFont& third = ctx.resolvedFonts().resolveFont(ctx.platform(), ctx.registry(), u"f");
    EXPECT_TRUE(third.found);
    EXPECT_EQ(third.familyName, u"Real");
  }
}

TEST_F(ResolvedFontCacheTest, IdsAreComparedExactly) {
  registerFont(u"Font", u"");
  const std::u16string ids[] = {u"Font", u"font", u"FONT", u"Font ", u""};
  for (const std::u16string& id : ids)
    ctx.resolvedFonts().resolveFont(ctx.platform(), ctx.registry(), id);
  EXPECT_EQ(ctx.resolvedFonts().size(), std::size(ids));
  EXPECT_EQ(ctx.resolvedFonts().resolveFont(ctx.platform(), ctx.registry(), u"Font").error,
            errors::kFontNotFound);
  for (std::u16string_view id : {u"font", u"FONT", u"Font ", u""}) {
    SCOPED_TRACE(std::string(id.begin(), id.end()));
    EXPECT_EQ(
        ctx.resolvedFonts().resolveFont(ctx.platform(), ctx.registry(), std::u16string(id)).error,
        errors::kFontNotRegistered);
  }
}

TEST_F(ResolvedFontCacheTest, ClearReleasesCollections) {
  registerFont(u"f", u"PS");
  std::weak_ptr<const FontCollection> collection;
  {
    auto fonts = matchedFamily(u"Fam");
    collection = fonts->collection;
    backend.textEngine->systemFonts->onProperty(FontPropertyId::kPostScriptName, u"PS", fonts);
    ASSERT_TRUE(ctx.resolvedFonts().resolveFont(ctx.platform(), ctx.registry(), u"f").found);
    backend.textEngine->systemFonts->propertyMatches.clear();
  }
  EXPECT_FALSE(collection.expired());  // the entry holds it
  ctx.resolvedFonts().clear();
  EXPECT_TRUE(collection.expired());
}

}  // namespace
}  // namespace kfp
