#pragma once
// A font collection of the Linux backend: the faces of one matched set. Each face is opened when
// the collection is made, for its names; the collection then keeps only the faces' handles, and a
// text format opens its face again from the face store. Families group faces by their WWS family
// name (name ID 21, else 16, else 1); a family is found by any of its faces' family names of those
// three IDs in any language.

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/font_set.h"
#include "platform/linux/files/face_store.h"
#include "platform/linux/files/loaded_face.h"
#include "platform/linux/fonts/font_record.h"

namespace kfp::linux_backend {

class LinuxFontCollection : public FontCollection {
 public:
  // `faces` are the open faces of `handles` and `records` their index records, in the same order;
  // the names are read here (from the records only when a face has no usable name table).
  LinuxFontCollection(std::vector<std::shared_ptr<FaceHandle>> handles,
                      std::span<const std::shared_ptr<LoadedFace>> faces,
                      std::span<const FontRecord* const> records);
  uint32_t familyCount() const override;
  bool findFamilyName(std::u16string_view familyName) const override;
  std::shared_ptr<const LocalizedStrings> familyNames(uint32_t familyIndex) const override;

  // The face of that family closest to weight, stretch and style; nullptr when the collection has
  // no such family.
  std::shared_ptr<FaceHandle> faceFor(std::u16string_view familyName, int weight, int stretch,
                                      int style) const;

 private:
  struct FaceNames {
    std::vector<std::u16string> folded;  // every family name of the face, case-folded
  };
  struct Family {
    std::u16string key;                // folded preferred WWS name
    std::vector<LocalizedName> names;  // the WWS names, English first
  };
  bool faceHasName(size_t face, const std::u16string& foldedName) const;

  std::vector<std::shared_ptr<FaceHandle>> faces_;
  std::vector<FaceNames> faceNames_;  // parallel to faces_
  std::vector<Family> families_;
};

// A collection of the set's faces, taken from the store; nullptr when the set is not this
// backend's or a face cannot be opened.
std::shared_ptr<LinuxFontCollection> createLinuxFontCollection(FaceStore& store,
                                                               const FontSet& fonts);

}  // namespace kfp::linux_backend
