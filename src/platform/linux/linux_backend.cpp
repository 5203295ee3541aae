#include "platform/linux/linux_backend.h"

#include "platform/linux/fonts/installed_fonts.h"
#include "platform/linux/gdi/gdi.h"
#include "platform/linux/process_memory.h"
#include "platform/linux/raster/graphics.h"
#include "platform/linux/text/text_engine.h"

namespace kfp {
namespace linux_backend {
namespace {

class LinuxBackend : public Backend {
 public:
  std::shared_ptr<TextEngine> createTextEngine() override {
    faces_ = FaceStore::create();
    if (!faces_) return nullptr;
    index_ = FontIndex::build();
    if (!index_) return nullptr;
    return std::make_shared<LinuxTextEngine>(faces_, index_);
  }

  std::shared_ptr<Graphics> createGraphics() override { return createLinuxGraphics(); }

  Gdi& gdi() override {
    // The index exists once the text engine does; the GDI-style path is only reached after that.
    if (!gdi_) gdi_ = createLinuxGdi(faces_, index_);
    return *gdi_;
  }

  uint64_t privateBytes() override { return readPrivateBytes(); }
  // Called once the resolved-font cache is gone: the faces it held are released by now, the GDI
  // path's sized faces go the same way.
  void releaseFreeMemory() override {
    if (gdi_) dropGdiSizedFaces(*gdi_);
    if (faces_) faces_->forgetReleased();
    releaseFreeHeap();
  }

  // The same index the text engine resolves from, built here when the engine was never made.
  bool listInstalledFonts(std::vector<InstalledFont>* fonts) override {
    std::shared_ptr<const FontIndex> index = index_ ? index_ : FontIndex::build();
    if (!index) return false;
    fonts->clear();
    for (IndexedFont& listed : listIndexedFonts(std::move(index))) {
      fonts->push_back(std::move(listed.font));
    }
    return true;
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
