#pragma once
// The order in which matched fonts are offered: the first font of a match is the one used.
//
// Family matching follows the CSS / DirectWrite font-matching order: stretch first (narrower fonts
// before wider ones when normal or narrower is asked for, else wider first), then style (italic and
// oblique stand in for each other before normal does), then weight (from 400 to 500 upwards first,
// below 400 lighter first, above 500 heavier first). Matching with axis values first ranks by the
// distance between the font's coordinates and the requested values clamped into the font's axis
// ranges (static fonts: their weight, width and italic as wght, wdth and ital). Fonts equal in all
// of that are told apart by their style name: a bold request prefers the face named bold.

#include <algorithm>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "platform/font_types.h"
#include "platform/linux/fonts/font_record.h"

namespace kfp::linux_backend {

struct RankRequest {
  int weight = kNormalWeight;
  int stretch = kNormalStretch;
  int style = kStyleNormal;
  AxisValues axisValues;  // empty: no axis term; one value per tag, the last one given wins
};

// Weight, stretch and style as the axis values ask for them (normal where they do not).
RankRequest rankRequestFromAxes(std::span<const AxisValue> axisValues);

struct RankKey {
  double axisDistance = 0;
  int stretch = 0;
  int style = 0;
  int weight = 0;
  int namedBold = 0;  // 1 when the face's bold name disagrees with the requested weight
  bool operator<(const RankKey& other) const;
};

RankKey rankKey(const FontRecord& record, const RankRequest& request);

// Sorts items best first; equally good items keep their order.
template <typename T, typename RecordOf>
void rankFonts(std::vector<T>& items, RecordOf recordOf, const RankRequest& request) {
  std::vector<std::pair<RankKey, T>> keyed;
  keyed.reserve(items.size());
  for (T& item : items) keyed.emplace_back(rankKey(recordOf(item), request), std::move(item));
  std::stable_sort(keyed.begin(), keyed.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (size_t i = 0; i < items.size(); ++i) items[i] = std::move(keyed[i].second);
}

}  // namespace kfp::linux_backend
