#include "platform/installed_font.h"

#include <algorithm>
#include <iterator>
#include <string_view>

#include "platform/font_types.h"

namespace kfp {
namespace {

struct WeightName {
  int below;  // the name covers weights below this and from the previous entry's
  int weight;
  std::u16string_view name;
};
constexpr WeightName kWeightNames[] = {{150, 100, u"Thin"},      {250, 200, u"ExtraLight"},
                                       {325, 300, u"Light"},     {375, 350, u"SemiLight"},
                                       {450, 400, u""},          {550, 500, u"Medium"},
                                       {650, 600, u"SemiBold"},  {750, 700, u"Bold"},
                                       {850, 800, u"ExtraBold"}, {1000, 900, u"Black"}};
constexpr std::u16string_view kStretchNames[] = {
    u"UltraCondensed", u"ExtraCondensed", u"Condensed",     u"SemiCondensed", u"",
    u"SemiExpanded",   u"Expanded",       u"ExtraExpanded", u"UltraExpanded"};

const WeightName& weightName(int weight) {
  for (const WeightName& entry : kWeightNames) {
    if (weight < entry.below) return entry;
  }
  return kWeightNames[std::size(kWeightNames) - 1];
}

}  // namespace

std::u16string styleNameFor(int weight, int stretch, int style) {
  std::u16string name;
  auto add = [&name](std::u16string_view word) {
    if (word.empty()) return;
    if (!name.empty()) name.push_back(u' ');
    name += word;
  };
  add(kStretchNames[std::clamp(stretch, 1, 9) - 1]);
  add(weightName(weight).name);
  if (style == kStyleItalic) add(u"Italic");
  if (style == kStyleOblique) add(u"Oblique");
  return name.empty() ? u"Regular" : name;
}

int styleNameWeight(int weight) {
  return weightName(weight).weight;
}

}  // namespace kfp
