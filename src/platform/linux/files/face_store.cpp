#include "platform/linux/files/face_store.h"

#include <functional>

#include "platform/linux/fonts/font_collection.h"

namespace kfp::linux_backend {

size_t FaceStore::FaceKeyHash::operator()(const FaceKey& key) const {
  size_t hash = std::hash<std::string>()(key.path);
  hash ^= (size_t(key.faceIndex) << 20 | key.namedInstance) * 0x9E3779B97F4A7C15ull;
  return hash;
}

std::shared_ptr<FaceStore> FaceStore::create() {
  auto store = std::make_shared<FaceStore>();
  store->library_ = FreeTypeLibrary::create();
  if (!store->library_) return nullptr;
  return store;
}

std::shared_ptr<FreeTypeLibrary> FaceStore::library() {
  if (facesOnLibrary_ >= kFacesPerLibrary || !library_) {
    std::shared_ptr<FreeTypeLibrary> next = FreeTypeLibrary::create();
    if (!next) return nullptr;
    library_ = std::move(next);
    facesOnLibrary_ = 0;
  }
  ++facesOnLibrary_;
  return library_;
}

std::shared_ptr<MappedFontFile> FaceStore::file(const std::string& path) {
  std::weak_ptr<MappedFontFile>& slot = files_[path];
  std::shared_ptr<MappedFontFile> file = slot.lock();
  if (file && !file->changed()) return file;
  file = MappedFontFile::map(path);
  slot = file;
  return file;
}

std::shared_ptr<LoadedFace> FaceStore::face(const FontRecord& record) {
  std::weak_ptr<LoadedFace>& slot = faces_[{record.path, record.faceIndex, record.namedInstance}];
  std::shared_ptr<LoadedFace> face = slot.lock();
  if (face && !face->fileChanged()) return face;
  std::shared_ptr<MappedFontFile> mapped = file(record.path);
  face = mapped ? LoadedFace::open(library(), std::move(mapped), record) : nullptr;
  slot = face;
  return face;
}

void FaceStore::forgetReleased() {
  std::erase_if(faces_, [](const auto& entry) { return entry.second.expired(); });
  std::erase_if(files_, [](const auto& entry) { return entry.second.expired(); });
  std::erase_if(soleCollections_, [](const auto& entry) { return entry.second.expired(); });
}

}  // namespace kfp::linux_backend
