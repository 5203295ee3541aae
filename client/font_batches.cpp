#include "font_batches.h"

#include <algorithm>

#include "protocol/reply_bounds.h"

namespace kfp::client {

std::vector<std::vector<size_t>> splitIntoBatches(const std::vector<std::string>& fontIds,
                                                  size_t maxFonts, size_t budget) {
  if (maxFonts == 0) maxFonts = 1;
  std::vector<std::vector<size_t>> batches;
  std::vector<size_t> current;
  size_t used = 0;
  for (size_t i = 0; i < fontIds.size(); ++i) {
    const size_t bound = measureItemBound(fontIds[i].size());
    if (!current.empty() && (current.size() == maxFonts || used + bound > budget)) {
      batches.push_back(std::move(current));
      current.clear();
      used = 0;
    }
    current.push_back(i);
    used += bound;
  }
  if (!current.empty()) batches.push_back(std::move(current));
  return batches;
}

size_t fontsWithinNewFaces(const std::vector<size_t>& batch, size_t newFaces,
                           const std::function<bool(size_t)>& known) {
  size_t unknown = 0;
  for (size_t i = 0; i < batch.size(); ++i) {
    if (known(batch[i])) continue;
    if (++unknown > newFaces) return std::max<size_t>(i, 1);
  }
  return batch.size();
}

}  // namespace kfp::client
