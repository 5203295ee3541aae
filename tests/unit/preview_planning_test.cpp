// How the preview service cuts requests into batches and what it retries after a renderer died.

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "death_policy.h"
#include "font_batches.h"
#include "protocol/reply_bounds.h"

namespace kfp::client {
namespace {

using Batches = std::vector<std::vector<size_t>>;

std::vector<size_t> flatten(const Batches& batches) {
  std::vector<size_t> all;
  for (const auto& batch : batches) all.insert(all.end(), batch.begin(), batch.end());
  return all;
}

TEST(SplitIntoBatches, KeepsOrderAndBothLimits) {
  struct Case {
    const char* name;
    size_t fonts;
    size_t idLength;
    size_t maxFonts;
    size_t budget;
    size_t expectedBatches;
  } const cases[] = {
      {"empty request", 0, 5, 10, measureItemsBudget(0), 0},
      {"count limit", 25, 5, 10, measureItemsBudget(0), 3},
      {"zero count means one", 3, 5, 0, measureItemsBudget(0), 3},
      {"byte budget cuts first", 10, 10, 100, 3 * (96 + 60), 4},
      {"an oversized id stands alone", 3, 1000, 100, 10, 3},
      {"50000 long ids outgrow one reply", 50000, 120, 1000000, measureItemsBudget(0), 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::string> ids(c.fonts, std::string(c.idLength, 'x'));
    const Batches batches = splitIntoBatches(ids, c.maxFonts, c.budget);
    EXPECT_EQ(batches.size(), c.expectedBatches);
    std::vector<size_t> expected(c.fonts);
    std::iota(expected.begin(), expected.end(), size_t(0));
    EXPECT_EQ(flatten(batches), expected);
    for (const auto& batch : batches) {
      ASSERT_FALSE(batch.empty());
      EXPECT_LE(batch.size(), std::max<size_t>(c.maxFonts, 1));
      size_t bytes = 0;
      for (size_t i : batch) bytes += measureItemBound(ids[i].size());
      if (batch.size() > 1) {
        EXPECT_LE(bytes, c.budget);
      }
    }
  }
}

TEST(MeasureItemBound, CoversTheLongestItemTheRendererWrites) {
  // A control character is escaped as \u00XX: six bytes for one.
  for (const std::string& id : {std::string("a"), std::string(200, '\x01'), std::string()}) {
    std::string escaped;
    for (char c : id) escaped += c == '\x01' ? "\\u0001" : std::string(1, c);
    const std::string item = "{\"fontId\":\"" + escaped +
                             "\",\"resolved\":false,\"error\":\"FONT_COLLECTION_CREATE_FAILED\"},";
    EXPECT_GE(measureItemBound(id.size()), item.size()) << id.size();
  }
}

TEST(PlanAfterDeath, RetriesBlamesAndGivesUp) {
  struct Case {
    const char* name;
    bool isRender;
    bool memoryExit;
    std::vector<size_t> owed;
    std::vector<int> strikesBefore;
    Batches retry;
    std::optional<size_t> givenUp;
    std::vector<int> strikesAfter;
  } const cases[] = {
      {"nothing owed", true, false, {}, {0, 0}, {}, std::nullopt, {0, 0}},
      {"memory exit retries all, blames none",
       true,
       true,
       {1, 2, 3},
       {0, 1, 0, 0},
       {{1, 2, 3}},
       std::nullopt,
       {0, 1, 0, 0}},
      {"render crash: first owed alone, then the rest",
       true,
       false,
       {2, 3, 4},
       {0, 0, 0, 0, 0},
       {{2}, {3, 4}},
       std::nullopt,
       {0, 0, 1, 0, 0}},
      {"render crash twice: given up, the rest retried",
       true,
       false,
       {2, 3},
       {0, 0, 1, 0},
       {{3}},
       2,
       {0, 0, 2, 0}},
      {"measure crash halves the batch",
       false,
       false,
       {0, 1, 2, 3, 4},
       {0, 0, 0, 0, 0},
       {{0, 1}, {2, 3, 4}},
       std::nullopt,
       {0, 0, 0, 0, 0}},
      {"measure crash on one font blames it",
       false,
       false,
       {3},
       {0, 0, 0, 0},
       {{3}},
       std::nullopt,
       {0, 0, 0, 1}},
      {"measure crash on one font again gives up",
       false,
       false,
       {3},
       {0, 0, 0, 1},
       {},
       3,
       {0, 0, 0, 2}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<int> strikes = c.strikesBefore;
    const AfterDeath plan = planAfterDeath(c.isRender, c.memoryExit, c.owed, strikes);
    EXPECT_EQ(plan.retry, c.retry);
    EXPECT_EQ(plan.givenUp, c.givenUp);
    EXPECT_EQ(strikes, c.strikesAfter);
    // Every owed font is either retried or given up on, exactly once.
    std::vector<size_t> accounted = flatten(plan.retry);
    if (plan.givenUp) accounted.push_back(*plan.givenUp);
    std::sort(accounted.begin(), accounted.end());
    std::vector<size_t> owed = c.owed;
    std::sort(owed.begin(), owed.end());
    EXPECT_EQ(accounted, owed);
  }
}

TEST(FontsWithinNewFaces, CountsOnlyFontsTheRendererHasNotResolved) {
  struct Case {
    const char* name;
    std::vector<size_t> batch;
    std::vector<size_t> known;
    size_t newFaces;
    size_t expected;
  } const cases[] = {
      {"all new, cut at the limit", {0, 1, 2, 3, 4}, {}, 2, 2},
      {"known fonts are free", {0, 1, 2, 3, 4}, {0, 1, 3}, 2, 5},
      {"cut just before the third new one", {0, 1, 2, 3, 4}, {1}, 2, 3},
      {"the limit reached on the last font", {5, 6}, {}, 2, 2},
      {"a first new font always goes", {7, 8}, {}, 0, 1},
      {"empty batch", {}, {}, 3, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto known = [&](size_t index) {
      return std::find(c.known.begin(), c.known.end(), index) != c.known.end();
    };
    EXPECT_EQ(fontsWithinNewFaces(c.batch, c.newFaces, known), c.expected);
  }
}

}  // namespace
}  // namespace kfp::client
