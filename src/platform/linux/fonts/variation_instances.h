#pragma once
// The variation-coordinate sets one face is used at, each with a HarfBuzz font that shapes at
// those coordinates. Shaping uses HarfBuzz's own OpenType functions in font units, so it never
// depends on the size or coordinates the shared FreeType face happens to be set to.

#include <hb-ot.h>
#include <hb.h>

#include <cstdint>
#include <span>
#include <vector>

#include "platform/font_types.h"
#include "platform/linux/c_handles.h"
#include "platform/linux/fonts/font_record.h"

namespace kfp::linux_backend {

class VariationInstances {
 public:
  VariationInstances(hb_face_t* face, const FontRecord& record);

  uint32_t axisCount() const { return static_cast<uint32_t>(axes_.size()); }

  // One design coordinate per axis: the face's own instance, then `values` applied in order, each
  // clamped to its axis range. Tags the face lacks are ignored.
  void resolve(std::span<const AxisValue> values, std::vector<float>& coords) const;

  // A small id for a coordinate set, registered on first use. Registering beyond the limit forgets
  // every earlier set; `forgotten` then becomes true so that images keyed by old ids are dropped.
  uint32_t idFor(std::span<const float> coords, bool* forgotten);
  hb_font_t* shapingFont(uint32_t id) const { return instances_[id].font.get(); }
  std::span<const float> coordinates(uint32_t id) const { return instances_[id].coords; }

 private:
  static constexpr size_t kMaxInstances = 8;
  struct Instance {
    std::vector<float> coords;
    HbFontPtr font;
  };
  hb_face_t* face_;
  std::vector<hb_ot_var_axis_info_t> axes_;
  std::vector<uint32_t> tags_;   // axes_' tags packed as AxisValue tags are
  std::vector<float> defaults_;  // the record's instance
  std::vector<Instance> instances_;
};

}  // namespace kfp::linux_backend
