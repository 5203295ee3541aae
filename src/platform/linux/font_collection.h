#pragma once
// A font collection of the Linux backend: the faces of one matched set, opened lazily once.

#include <memory>
#include <string_view>
#include <vector>

#include "platform/font_set.h"
#include "platform/linux/font_record.h"
#include "platform/linux/loaded_face.h"

namespace kfp::linux_backend {

class LinuxFontCollection : public FontCollection {
 public:
  LinuxFontCollection(std::shared_ptr<FreeTypeLibrary> library,
                      std::vector<std::shared_ptr<LoadedFace>> faces);
  uint32_t familyCount() const override;
  bool findFamilyName(std::u16string_view familyName) const override;
  std::shared_ptr<const LocalizedStrings> familyNames(uint32_t familyIndex) const override;

  // The face of that family closest to weight, stretch and style; nullptr when the collection has
  // no such family.
  std::shared_ptr<LoadedFace> faceFor(std::u16string_view familyName, int weight, int stretch,
                                      int style) const;

 private:
  std::shared_ptr<FreeTypeLibrary> library_;
  std::vector<std::shared_ptr<LoadedFace>> faces_;
};

}  // namespace kfp::linux_backend
