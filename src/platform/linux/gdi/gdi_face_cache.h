#pragma once
// The GDI-style path's sized faces, kept between calls: a font created for the same installed
// face, height, weight class and italic flag is a lookup rather than a file open. Dropped as a
// whole with the resolved-font cache, and when it reaches kMaxFaces.

#include <cstdint>
#include <memory>
#include <unordered_map>

#include "platform/gdi.h"
#include "platform/linux/files/face_store.h"
#include "platform/linux/fonts/font_index.h"
#include "platform/linux/gdi/gdi_sized_face.h"

namespace kfp::linux_backend {

class GdiFaceCache {
 public:
  static constexpr size_t kMaxFaces = 256;

  GdiFaceCache(std::shared_ptr<FaceStore> store, std::shared_ptr<const FontIndex> index)
      : store_(std::move(store)), index_(std::move(index)) {}

  // The record's face sized for the request; nullptr when it cannot be opened or sized.
  std::shared_ptr<GdiSizedFace> face(uint32_t recordId, const GdiFontRequest& request);
  void clear() { decltype(faces_)().swap(faces_); }
  size_t size() const { return faces_.size(); }

 private:
  std::shared_ptr<FaceStore> store_;
  std::shared_ptr<const FontIndex> index_;
  struct Key {
    uint32_t recordId = 0;
    int32_t height = 0;
    bool bold = false;  // semibold or heavier asked for
    bool italic = false;
    bool operator==(const Key&) const = default;
  };
  struct KeyHash {
    size_t operator()(const Key& key) const {
      return size_t((uint64_t(key.recordId) << 32 | uint32_t(key.height)) * 0x9E3779B97F4A7C15ull) ^
             (size_t(key.bold) << 1 | size_t(key.italic));
    }
  };
  // Failures are not remembered.
  std::unordered_map<Key, std::shared_ptr<GdiSizedFace>, KeyHash> faces_;
};

}  // namespace kfp::linux_backend
