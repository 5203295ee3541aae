#pragma once
// What becomes of the fonts a renderer still owed when it ended in the middle of a request.

#include <cstddef>
#include <optional>
#include <vector>

namespace kfp::client {

struct AfterDeath {
  // Batches to issue again, first ones first, ahead of the work still queued.
  std::vector<std::vector<size_t>> retry;
  // A font given up on: it ended a renderer again after a first strike.
  std::optional<size_t> givenUp;
};

// `owed`: the fonts (positions in the request) without a result, in the order the renderer would
// have handled them. `strikes`: per position, how many renderers ended while it was the suspect;
// updated here.
//  - A renderer that exceeded its memory limit exited between frames: nobody's fault, all retried.
//  - Otherwise a Render was drawing its first owed font, which becomes the suspect; it is retried
//    alone (a second death then leaves no doubt) and given up on after `strikesToFail`.
//  - A Measure answers a batch at once, so the culprit is found by halving the batch until it is
//    alone.
AfterDeath planAfterDeath(bool isRender, bool memoryExit, std::vector<size_t> owed,
                          std::vector<int>& strikes, int strikesToFail = 2);

}  // namespace kfp::client
