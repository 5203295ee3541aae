#include "platform/linux/fonts/variation_instances.h"

#include <algorithm>
#include <cmath>

namespace kfp::linux_backend {
namespace {

// hb_tag_t packs the first character highest; AxisValue tags pack it lowest.
uint32_t axisValueTag(hb_tag_t tag) {
  return axisTag(char(tag >> 24), char(tag >> 16), char(tag >> 8), char(tag));
}

}  // namespace

VariationInstances::VariationInstances(hb_face_t* face, const FontRecord& record) : face_(face) {
  unsigned count = hb_ot_var_get_axis_count(face);
  axes_.resize(count);
  if (count) hb_ot_var_get_axis_infos(face, 0, &count, axes_.data());
  axes_.resize(count);
  defaults_.resize(count);
  for (unsigned i = 0; i < count; ++i) defaults_[i] = axes_[i].default_value;
  if (record.namedInstance > 0 && count) {
    unsigned n = count;
    hb_ot_var_named_instance_get_design_coords(face, record.namedInstance - 1, &n,
                                               defaults_.data());
  }
  tags_.resize(count);
  for (unsigned i = 0; i < count; ++i) tags_[i] = axisValueTag(axes_[i].tag);
  for (const AxisValue& value : record.coordinates) {
    for (unsigned i = 0; i < count; ++i) {
      if (tags_[i] == value.tag) defaults_[i] = value.value;
    }
  }
}

void VariationInstances::resolve(std::span<const AxisValue> values,
                                 std::vector<float>& coords) const {
  coords = defaults_;
  for (const AxisValue& value : values) {
    if (!std::isfinite(value.value)) continue;
    for (size_t i = 0; i < axes_.size(); ++i) {
      if (tags_[i] == value.tag) {
        coords[i] = std::clamp(value.value, axes_[i].min_value, axes_[i].max_value);
      }
    }
  }
}

uint32_t VariationInstances::idFor(std::span<const float> coords, bool* forgotten) {
  *forgotten = false;
  for (size_t i = 0; i < instances_.size(); ++i) {
    if (std::equal(coords.begin(), coords.end(), instances_[i].coords.begin(),
                   instances_[i].coords.end())) {
      return static_cast<uint32_t>(i);
    }
  }
  if (instances_.size() >= kMaxInstances) {
    instances_.clear();
    *forgotten = true;
  }
  Instance instance;
  instance.coords.assign(coords.begin(), coords.end());
  instance.font.reset(hb_font_create(face_));
  if (!coords.empty()) {
    hb_font_set_var_coords_design(instance.font.get(), instance.coords.data(),
                                  static_cast<unsigned>(instance.coords.size()));
  }
  instances_.push_back(std::move(instance));
  return static_cast<uint32_t>(instances_.size() - 1);
}

}  // namespace kfp::linux_backend
