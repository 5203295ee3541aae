#pragma once
// Splitting a request's font list into batches that each fit one frame both ways.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace kfp::client {

// Positions 0..fontIds.size()-1 cut into consecutive batches of at most `maxFonts` fonts whose
// MeasureResult items (measureItemBound, the same bound covers the request's fontIds) add up to at
// most `budget`: measureItemsBudget of the request's layout key, since the renderer sends no
// MeasureResult above the JSON limit. A font whose bound alone exceeds the budget is a batch of
// its own.
std::vector<std::vector<size_t>> splitIntoBatches(const std::vector<std::string>& fontIds,
                                                  size_t maxFonts, size_t budget);

// How many of `batch`'s first fonts a renderer can take while at most `newFaces` of them are
// fonts it has not resolved yet (`known` false): every new face costs the renderer memory within
// one frame, between two looks of its memory guard. At least one font, so that work goes on.
size_t fontsWithinNewFaces(const std::vector<size_t>& batch, size_t newFaces,
                           const std::function<bool(size_t)>& known);

}  // namespace kfp::client
