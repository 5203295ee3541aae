#include "platform/linux/files/face_store.h"

#include <functional>

#include "platform/linux/fonts/font_collection.h"

namespace kfp::linux_backend {

size_t FaceStore::FaceKeyHash::operator()(FaceKeyView key) const {
  size_t hash = std::hash<std::string_view>()(key.path);
  hash ^= (size_t(key.faceIndex) << 20 | key.namedInstance) * 0x9E3779B97F4A7C15ull;
  return hash;
}

std::shared_ptr<FaceStore> FaceStore::create(size_t budgetBytes) {
  auto store = std::make_shared<FaceStore>();
  store->library_ = FreeTypeLibrary::create();
  if (!store->library_) return nullptr;
  store->budget_ = budgetBytes;
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

std::shared_ptr<LoadedFace> FaceStore::openFace(const FontRecord& record,
                                                const FileIdentity* expected) {
  const FaceKeyView key = keyOf(record);
  auto known = faces_.find(key);
  std::shared_ptr<LoadedFace> face = known != faces_.end() ? known->second.lock() : nullptr;
  if (!face || face->fileChanged()) {
    std::shared_ptr<MappedFontFile> mapped = file(record.path);
    // Checked before the face is opened: a file that is not the expected one is not read at all.
    if (!mapped || (expected && !(mapped->identity() == *expected))) return nullptr;
    face = LoadedFace::open(library(), std::move(mapped), record);
    if (!face) return nullptr;
    if (known != faces_.end()) {
      known->second = face;
    } else {
      faces_.emplace(FaceKey{record.path, record.faceIndex, record.namedInstance}, face);
    }
  }
  if (expected && !(face->file().identity() == *expected)) return nullptr;
  return face;
}

std::shared_ptr<FaceHandle> FaceStore::handle(const FontRecord& record) {
  if (auto it = handles_.find(keyOf(record)); it != handles_.end()) {
    std::shared_ptr<FaceHandle> known = it->second.lock();
    if (known && !known->failed_) return known;
  }
  auto handle = std::make_shared<FaceHandle>();
  // The names are the index's and the open face's business; a handle and a face only need to
  // (re)open, so of the names only the PostScript name, which tells faces apart, is copied.
  FontRecord& unnamed = handle->record_;
  unnamed.postScriptName = record.postScriptName;
  unnamed.path = record.path;
  unnamed.faceIndex = record.faceIndex;
  unnamed.namedInstance = record.namedInstance;
  unnamed.scalable = record.scalable;
  unnamed.color = record.color;
  unnamed.weight = record.weight;
  unnamed.stretch = record.stretch;
  unnamed.style = record.style;
  unnamed.namedBold = record.namedBold;
  unnamed.axes = record.axes;
  unnamed.coordinates = record.coordinates;
  std::shared_ptr<LoadedFace> face = openFace(unnamed, nullptr);
  if (!face) return nullptr;
  handle->identity_ = face->file().identity();
  use(face);
  if (auto it = handles_.find(keyOf(unnamed)); it != handles_.end()) {
    it->second = handle;
  } else {
    handles_.emplace(FaceKey{unnamed.path, unnamed.faceIndex, unnamed.namedInstance}, handle);
  }
  return handle;
}

std::shared_ptr<LoadedFace> FaceStore::open(FaceHandle& handle) {
  if (handle.failed_) return nullptr;
  std::shared_ptr<LoadedFace> face = openFace(handle.record_, &handle.identity_);
  if (!face || face->fileChanged()) {
    // The file the handle was resolved against is gone for good.
    handle.failed_ = true;
    return nullptr;
  }
  use(face);
  return face;
}

std::shared_ptr<LoadedFace> FaceStore::face(const FontRecord& record) {
  std::shared_ptr<FaceHandle> handle = this->handle(record);
  return handle ? open(*handle) : nullptr;
}

void FaceStore::use(const std::shared_ptr<LoadedFace>& face) {
  // The face used last has grown since it was counted (shaping, glyph images): count it again.
  const auto recount = [this](Pooled& pooled) {
    const size_t now = pooled.face->memoryBytes();
    pooledBytes_ = pooledBytes_ - pooled.bytes + now;
    pooled.bytes = now;
  };
  if (!pool_.empty()) recount(pool_.front());
  if (auto it = pooled_.find(face.get()); it != pooled_.end()) {
    pool_.splice(pool_.begin(), pool_, it->second);
    recount(pool_.front());
  } else {
    pool_.push_front({face, 0});
    pooled_.emplace(face.get(), pool_.begin());
    recount(pool_.front());
  }
  evict();
}

void FaceStore::evict() {
  // The most recent face stays whatever its size: it is about to be used.
  while (pooledBytes_ > budget_ && pool_.size() > 1) {
    Pooled& last = pool_.back();
    pooledBytes_ -= last.bytes;
    pooled_.erase(last.face.get());
    // Looked up while the face, whose record the key views, is alive.
    const auto face = faces_.find(keyOf(last.face->record()));
    const auto file = files_.find(last.face->record().path);
    pool_.pop_back();
    // Forgotten at once when nobody else holds them, so that a sweep over many faces leaves
    // nothing behind per face.
    if (face != faces_.end() && face->second.expired()) faces_.erase(face);
    if (file != files_.end() && file->second.expired()) files_.erase(file);
  }
}

void FaceStore::setBudget(size_t bytes) {
  budget_ = bytes;
  evict();
}

void FaceStore::releasePool() {
  pooled_.clear();
  pool_.clear();
  pooledBytes_ = 0;
  forgetReleased();
}

void FaceStore::forgetReleased() {
  std::erase_if(handles_, [](const auto& entry) { return entry.second.expired(); });
  std::erase_if(faces_, [](const auto& entry) { return entry.second.expired(); });
  std::erase_if(files_, [](const auto& entry) { return entry.second.expired(); });
  std::erase_if(soleCollections_, [](const auto& entry) { return entry.second.expired(); });
}

}  // namespace kfp::linux_backend
