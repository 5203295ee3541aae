#include "death_policy.h"

namespace kfp::client {

AfterDeath planAfterDeath(bool isRender, bool memoryExit, std::vector<size_t> owed,
                          std::vector<int>& strikes, int strikesToFail) {
  AfterDeath plan;
  if (owed.empty()) return plan;
  if (memoryExit) {
    plan.retry.push_back(std::move(owed));
    return plan;
  }
  if (!isRender && owed.size() > 1) {
    const auto middle = owed.begin() + static_cast<ptrdiff_t>(owed.size() / 2);
    plan.retry.emplace_back(owed.begin(), middle);
    plan.retry.emplace_back(middle, owed.end());
    return plan;
  }
  const size_t suspect = owed.front();
  if (++strikes[suspect] >= strikesToFail) {
    plan.givenUp = suspect;
  } else {
    plan.retry.push_back({suspect});
  }
  if (owed.size() > 1) plan.retry.emplace_back(owed.begin() + 1, owed.end());
  return plan;
}

}  // namespace kfp::client
