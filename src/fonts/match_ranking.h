#pragma once
// Which of the fonts a property match returned is used: the closest to the given axis values, then
// to the registered stretch, style and weight in the order family matching uses (stretch first,
// narrower before wider when normal or narrower is asked for; italic and oblique stand in for each
// other before upright does; weight from 400 to 500 upwards first, below 400 lighter first, above
// 500 heavier first). A family descriptor naming an italic or condensed style so gets the real
// face, since a weight-only axis request cannot tell the faces of one family apart.

#include <cstdint>
#include <optional>
#include <span>

#include "fonts/registered_font.h"
#include "platform/font_set.h"

namespace kfp {

// What a matched font says about itself.
struct CandidateStyle {
  int weight = kNormalWeight;
  int stretch = kNormalStretch;
  int style = kStyleNormal;
};

struct MatchRank {
  double axisDistance = 0;
  int stretch = 0;
  int style = 0;
  int weight = 0;
  bool operator<(const MatchRank& other) const;
};

MatchRank matchRank(const CandidateStyle& candidate, const RegisteredFont& font);

// The index of the best candidate; the earliest of equally good ones, so that the platform's own
// order decides what the registered values cannot.
uint32_t bestCandidate(std::span<const CandidateStyle> candidates, const RegisteredFont& font);

// The weight, stretch and style the set reports for one font; nullopt when it cannot tell.
std::optional<CandidateStyle> candidateStyle(const FontSet& fonts, uint32_t index);

}  // namespace kfp
