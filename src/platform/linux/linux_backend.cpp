#include "platform/linux/linux_backend.h"

#include "platform/linux/gdi/gdi.h"
#include "platform/linux/process_memory.h"
#include "platform/linux/raster/graphics.h"
#include "platform/linux/text/text_engine.h"

namespace kfp {
namespace linux_backend {
namespace {

class LinuxBackend : public Backend {
 public:
  HResult createTextEngine(std::shared_ptr<TextEngine>* out) override {
    faces_ = FaceStore::create();
    if (!faces_) return kFail;
    index_ = FontIndex::build();
    if (!index_) return kFail;
    *out = std::make_shared<LinuxTextEngine>(faces_, index_);
    return kOk;
  }

  HResult createGraphics(std::shared_ptr<Graphics>* out) override {
    *out = createLinuxGraphics();
    return *out ? kOk : kFail;
  }

  Gdi& gdi() override {
    // The index exists once the text engine does; the GDI-style path is only reached after that.
    if (!gdi_) gdi_ = createLinuxGdi(faces_, index_);
    return *gdi_;
  }

  uint64_t privateBytes() override { return readPrivateBytes(); }
  // Called by ClearCache and by the memory guard, before and after it drops the resolved fonts:
  // the face pool and the GDI path's sized faces go, and the heap is trimmed.
  void releaseFreeMemory() override {
    if (gdi_) dropGdiSizedFaces(*gdi_);
    if (faces_) faces_->releasePool();
    releaseFreeHeap();
  }
  void dropOpenFaces() override {
    if (faces_) faces_->releasePool();
  }

 private:
  std::shared_ptr<FaceStore> faces_;
  std::shared_ptr<const FontIndex> index_;
  std::unique_ptr<Gdi> gdi_;
};

}  // namespace
}  // namespace linux_backend

std::unique_ptr<Backend> createLinuxBackend() {
  return std::make_unique<linux_backend::LinuxBackend>();
}

}  // namespace kfp
