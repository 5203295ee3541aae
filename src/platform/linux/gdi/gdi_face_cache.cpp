#include "platform/linux/gdi/gdi_face_cache.h"

namespace kfp::linux_backend {
namespace {

// Only the two thresholds the synthetic styles depend on enter the key.
constexpr int kSemiBold = 600;

}  // namespace

std::shared_ptr<GdiSizedFace> GdiFaceCache::face(uint32_t recordId, const GdiFontRequest& request) {
  const Key key{recordId, request.height, request.weight >= kSemiBold, request.italic};
  if (auto it = faces_.find(key); it != faces_.end() && !it->second->fileChanged()) {
    return it->second;
  }
  const FontRecord& record = index_->record(recordId);
  std::shared_ptr<GdiSizedFace> sized =
      GdiSizedFace::open(store_->library(), store_->file(record.path), record, request);
  if (!sized) return nullptr;
  if (faces_.size() >= kMaxFaces) clear();
  faces_[key] = sized;
  return sized;
}

}  // namespace kfp::linux_backend
