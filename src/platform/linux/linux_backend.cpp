#include "platform/linux/linux_backend.h"

#include <unordered_set>

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
  // Called once the resolved-font cache is gone: the faces it held are released by now, the GDI
  // path's sized faces go the same way.
  void releaseFreeMemory() override {
    if (gdi_) dropGdiSizedFaces(*gdi_);
    if (faces_) faces_->forgetReleased();
    releaseFreeHeap();
  }

  std::vector<std::string> fontDirectories() const {
    std::vector<std::string> directories;
    if (!index_) return directories;
    std::unordered_set<std::string_view> seen;
    for (uint32_t id = 0; id < index_->size(); ++id) {
      const std::string& path = index_->record(id).path;
      const size_t slash = path.rfind('/');
      if (slash == std::string::npos || slash == 0) continue;
      const std::string_view directory(path.data(), slash);
      if (seen.insert(directory).second) directories.emplace_back(directory);
    }
    return directories;
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

std::vector<std::string> loadedFontDirectories(const Backend& backend) {
  const auto* linuxBackend = dynamic_cast<const linux_backend::LinuxBackend*>(&backend);
  return linuxBackend ? linuxBackend->fontDirectories() : std::vector<std::string>();
}

}  // namespace kfp
