#include "fonts/match_ranking.h"

#include <algorithm>
#include <cmath>

#include "fonts/font_lookup_steps.h"
#include "platform/family_match_order.h"

namespace kfp {
namespace {

// Distances are compared in millionths, so that float noise is a tie, not an order.
constexpr double kDistanceSteps = 1e6;

// A matched font's value on the axes its weight, stretch and style stand for, over the axis span
// that makes the three comparable; false for other axes, which the platform's order settles.
bool axisValueOf(const CandidateStyle& candidate, uint32_t tag, double* value, double* span) {
  return styleAxisValue(candidate.weight, candidate.stretch, candidate.style, tag, value, span);
}

std::optional<int> integerProperty(const FontSet& fonts, uint32_t index, FontPropertyId id) {
  std::shared_ptr<const LocalizedStrings> values = fonts.propertyValues(index, id);
  const std::u16string text = pickLocalizedString(values.get());
  if (text.empty() || text.size() > 4) return std::nullopt;
  int number = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return std::nullopt;
    number = number * 10 + (c - u'0');
  }
  return number;
}

}  // namespace

bool MatchRank::operator<(const MatchRank& other) const {
  if (axisDistance != other.axisDistance) return axisDistance < other.axisDistance;
  if (stretch != other.stretch) return stretch < other.stretch;
  if (style != other.style) return style < other.style;
  return weight < other.weight;
}

MatchRank matchRank(const CandidateStyle& candidate, const RegisteredFont& font) {
  MatchRank rank;
  double distance = 0;
  for (size_t i = 0; i < font.axisValues.size(); ++i) {
    const AxisValue& want = font.axisValues[i];
    // One value per tag: the last one given wins.
    const bool overridden =
        std::any_of(font.axisValues.begin() + std::ptrdiff_t(i) + 1, font.axisValues.end(),
                    [&](const AxisValue& later) { return later.tag == want.tag; });
    double value = 0;
    double span = 1;
    if (overridden || !std::isfinite(want.value) ||
        !axisValueOf(candidate, want.tag, &value, &span)) {
      continue;
    }
    distance += std::abs(double(want.value) - value) / span;
  }
  rank.axisDistance = std::round(distance * kDistanceSteps) / kDistanceSteps;
  rank.stretch = stretchKey(candidate.stretch, font.stretch);
  rank.style = styleKey(candidate.style, font.style);
  rank.weight = weightKey(candidate.weight, font.weight);
  return rank;
}

uint32_t bestCandidate(std::span<const CandidateStyle> candidates, const RegisteredFont& font) {
  uint32_t best = 0;
  MatchRank bestRank;
  for (uint32_t i = 0; i < candidates.size(); ++i) {
    const MatchRank rank = matchRank(candidates[i], font);
    if (i == 0 || rank < bestRank) {
      best = i;
      bestRank = rank;
    }
  }
  return best;
}

std::optional<CandidateStyle> candidateStyle(const FontSet& fonts, uint32_t index) {
  const std::optional<int> weight = integerProperty(fonts, index, FontPropertyId::kWeight);
  const std::optional<int> stretch = integerProperty(fonts, index, FontPropertyId::kStretch);
  const std::optional<int> style = integerProperty(fonts, index, FontPropertyId::kStyle);
  if (!weight || !stretch || !style) return std::nullopt;
  return CandidateStyle{*weight, *stretch, *style};
}

}  // namespace kfp
