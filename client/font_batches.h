#pragma once
// Splitting a request's font list into batches that each fit one frame both ways.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace kfp::client {

// The most JSON text a Measure request or its MeasureResult may carry for one batch. The renderer
// drops a MeasureResult above 8 MiB without a word, so a batch must stay below that with room for
// the request's own fields (text, layout key) and the reply's echo.
constexpr size_t kBatchJsonBudget = 8 * 1024 * 1024 - 64 * 1024;

// An upper bound of the bytes one font adds to a MeasureResult (and to the request's fontIds):
// its id escaped at worst (\u00XX for each byte), inside the longest item the renderer writes.
size_t measureItemBound(const std::string& fontId);

// Positions 0..fontIds.size()-1 cut into consecutive batches of at most `maxFonts` fonts whose
// measureItemBound sum stays within `budget`. A font whose bound alone exceeds the budget is a
// batch of its own.
std::vector<std::vector<size_t>> splitIntoBatches(const std::vector<std::string>& fontIds,
                                                  size_t maxFonts,
                                                  size_t budget = kBatchJsonBudget);

// How many of `batch`'s first fonts a renderer can take while at most `newFaces` of them are
// fonts it has not resolved yet (`known` false): every new face costs the renderer memory within
// one frame, between two looks of its memory guard. At least one font, so that work goes on.
size_t fontsWithinNewFaces(const std::vector<size_t>& batch, size_t newFaces,
                           const std::function<bool(size_t)>& known);

}  // namespace kfp::client
