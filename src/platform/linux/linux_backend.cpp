#include "platform/linux/linux_backend.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <unordered_set>

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

  std::vector<std::string> readableFontPaths() const {
    std::vector<std::string> paths;
    if (!index_) return paths;
    std::unordered_set<std::string_view> directories;
    for (uint32_t id = 0; id < index_->size(); ++id) {
      const std::string& path = index_->recordWithoutOwnNames(id).path;
      const size_t slash = path.rfind('/');
      if (slash == std::string::npos || slash == 0) continue;
      const std::string_view directory(path.data(), slash);
      if (directories.insert(directory).second) paths.emplace_back(directory);
    }
    // An indexed file may be a link to a file elsewhere (a distribution's alternatives, a user's
    // own folders): opening it reads the target, so the target is named too, and only that file.
    std::unordered_set<std::string> links;
    for (const std::string_view directory : directories) addLinks(std::string(directory), links);
    if (links.empty()) return paths;
    for (uint32_t id = 0; id < index_->size(); ++id) {
      const std::string& path = index_->recordWithoutOwnNames(id).path;
      if (links.erase(path) != 0) paths.push_back(path);
    }
    return paths;
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
  // The paths of the symbolic links directly inside `directory`.
  static void addLinks(const std::string& directory, std::unordered_set<std::string>& links) {
    DIR* listing = opendir(directory.c_str());
    if (!listing) return;
    while (const dirent* entry = readdir(listing)) {
      bool link = entry->d_type == DT_LNK;
      if (entry->d_type == DT_UNKNOWN) {
        struct stat info {};
        link = fstatat(dirfd(listing), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
               S_ISLNK(info.st_mode);
      }
      if (link) links.insert(directory + '/' + entry->d_name);
    }
    closedir(listing);
  }

  std::shared_ptr<FaceStore> faces_;
  std::shared_ptr<const FontIndex> index_;
  std::unique_ptr<Gdi> gdi_;
};

}  // namespace
}  // namespace linux_backend

std::unique_ptr<Backend> createLinuxBackend() {
  return std::make_unique<linux_backend::LinuxBackend>();
}

std::vector<std::string> loadedFontPaths(const Backend& backend) {
  const auto* linuxBackend = dynamic_cast<const linux_backend::LinuxBackend*>(&backend);
  return linuxBackend ? linuxBackend->readableFontPaths() : std::vector<std::string>();
}

}  // namespace kfp
