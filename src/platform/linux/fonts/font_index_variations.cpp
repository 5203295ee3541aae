#include "platform/linux/fonts/font_index_variations.h"

#include <hb-ot.h>

#include <algorithm>
#include <cmath>

#include "platform/linux/c_handles.h"
#include "platform/linux/fonts/font_index_names.h"

namespace kfp::linux_backend {
namespace {


std::u16string instanceFullName(const std::u16string& family, const std::u16string& subfamily) {
  if (subfamily.empty() || subfamily == u"Regular") return family;
  return family + u" " + subfamily;
}

// Full names as family + subfamily: fontconfig gives a named instance only the bare family.
void addInstanceFullNames(const NamedInstanceData& instance, FontRecord& record) {
  const std::u16string& anyFamily = preferredName(record.typographicFamilyNames);
  for (const LocalizedName& subfamily : instance.subfamilyNames) {
    const std::u16string* family = &anyFamily;
    for (const LocalizedName& name : record.typographicFamilyNames) {
      if (name.locale == subfamily.locale) family = &name.text;
    }
    addUniqueName(record.fullNames, {subfamily.locale, instanceFullName(*family, subfamily.text)});
  }
}

}  // namespace

int stretchFromWidthPercent(double percent) {
  // Midpoints between the usWidthClass percentages 50, 62.5, 75, 87.5, 100, 112.5, 125, 150, 200.
  static constexpr double kUpperBounds[] = {56.25, 68.75, 81.25, 93.75, 106.25, 118.75, 137.5, 175};
  int stretch = 1;
  for (double bound : kUpperBounds) {
    if (percent < bound) return stretch;
    ++stretch;
  }
  return stretch;
}

std::optional<VariableFaceData> readVariableFace(const std::string& path, uint32_t faceIndex) {
  HbBlobPtr blob(hb_blob_create_from_file_or_fail(path.c_str()));
  if (!blob) return std::nullopt;
  HbFacePtr face(hb_face_create(blob.get(), faceIndex));
  unsigned int axisCount = hb_ot_var_get_axis_count(face.get());
  if (axisCount == 0) return std::nullopt;

  VariableFaceData data;
  std::vector<hb_ot_var_axis_info_t> infos(axisCount);
  hb_ot_var_get_axis_infos(face.get(), 0, &axisCount, infos.data());
  data.axes.reserve(axisCount);
  for (const hb_ot_var_axis_info_t& info : infos) {
    // hb_tag_t packs the first character highest; AxisValue tags pack it lowest.
    uint32_t tag =
        axisTag(char(info.tag >> 24), char(info.tag >> 16), char(info.tag >> 8), char(info.tag));
    data.axes.push_back({tag, info.min_value, info.default_value, info.max_value});
  }

  unsigned int instanceCount = hb_ot_var_get_named_instance_count(face.get());
  data.instances.resize(instanceCount);
  for (unsigned int i = 0; i < instanceCount; ++i) {
    NamedInstanceData& instance = data.instances[i];
    instance.coordinates.resize(axisCount);
    unsigned int coordCount = axisCount;
    hb_ot_var_named_instance_get_design_coords(face.get(), i, &coordCount,
                                               instance.coordinates.data());
    instance.subfamilyNames =
        readNameTable(face.get(), hb_ot_var_named_instance_get_subfamily_name_id(face.get(), i));
    hb_ot_name_id_t psId = hb_ot_var_named_instance_get_postscript_name_id(face.get(), i);
    if (psId != HB_OT_NAME_ID_INVALID) {
      instance.postScriptName = preferredName(readNameTable(face.get(), psId));
    }
  }
  return data;
}

void applyVariableFace(const VariableFaceData& face, FontRecord& record) {
  record.axes = face.axes;
  const NamedInstanceData* instance = nullptr;
  if (record.namedInstance > 0 && record.namedInstance <= face.instances.size()) {
    instance = &face.instances[record.namedInstance - 1];
  }
  record.coordinates.clear();
  for (size_t i = 0; i < face.axes.size(); ++i) {
    float value = instance ? instance->coordinates[i] : face.axes[i].defaultValue;
    record.coordinates.push_back({face.axes[i].tag, value});
    if (face.axes[i].tag == kWghtTag) {
      record.weight = std::clamp(int(std::lround(value)), 1, 999);
    } else if (face.axes[i].tag == kWdthTag) {
      record.stretch = stretchFromWidthPercent(value);
    }
  }
  if (instance) {
    if (!instance->postScriptName.empty()) record.postScriptName = instance->postScriptName;
    if (!instance->subfamilyNames.empty()) record.fullNames.clear();
    addInstanceFullNames(*instance, record);
    return;
  }
  // fontconfig lists no named instance that sits at the default coordinates; the default
  // instance stands for it, so it also answers to that instance's full name.
  for (const NamedInstanceData& named : face.instances) {
    bool atDefault = true;
    for (size_t i = 0; i < face.axes.size() && atDefault; ++i) {
      atDefault = named.coordinates[i] == face.axes[i].defaultValue;
    }
    if (atDefault) {
      addInstanceFullNames(named, record);
      break;
    }
  }
}

}  // namespace kfp::linux_backend
