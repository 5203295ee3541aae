#pragma once
// Variation data of a variable face, read from the font file itself: fontconfig's derived weights
// for named instances are coarse (and its full names for them are the bare family name).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/fonts/font_record.h"

namespace kfp::linux_backend {

struct NamedInstanceData {
  std::vector<float> coordinates;  // design coordinates, one per axis
  std::vector<LocalizedName> subfamilyNames;
  std::u16string postScriptName;  // empty when the font gives the instance none
};

struct VariableFaceData {
  std::vector<AxisRange> axes;
  std::vector<NamedInstanceData> instances;  // named instance n is instances[n - 1]
};

// Opens the file once (memory-mapped); nullopt when it cannot be read or has no axes.
std::optional<VariableFaceData> readVariableFace(const std::string& path, uint32_t faceIndex);

// Gives `record` the face's axes, the coordinates of its named instance (the defaults for the
// default instance) and the weight and stretch those coordinates mean. Names of a named instance
// are rebuilt from the instance's subfamily name.
void applyVariableFace(const VariableFaceData& face, FontRecord& record);

// Stretch 1..9 from a width in percent of normal (the usWidthClass percentages).
int stretchFromWidthPercent(double percent);

}  // namespace kfp::linux_backend
