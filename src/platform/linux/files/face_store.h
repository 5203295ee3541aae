#pragma once
// The backend's opened faces, shared and pooled. Every font id, collection and GDI-style font that
// resolves to the same file, face index and named instance gets the same LoadedFace (and with it
// one glyph cache), and every face of a file reads one mapping of it.
//
// What a resolved font keeps is a FaceHandle: which face, and which version of its file it was
// resolved against. The open faces themselves (FreeType face, HarfBuzz face and font, shaping
// plans, table copies, glyph images) live in a pool with a byte budget and are released least
// recently used first; a handle whose face was released reopens it on its next use, and gets
// nothing (a per-font error) when the file is no longer the one it was resolved against. So memory
// follows the faces being drawn, not every face ever touched. The pool is dropped whole when the
// resolved fonts are (ClearCache, a new font set, the memory guard).
//
// Release is linear in the number of faces: FreeType finds a face to release by walking its
// library's face list from the oldest, so releasing N faces of one library newest first costs
// O(N^2) (50 000 faces: 100 s). The store therefore opens at most kFacesPerLibrary faces on each
// FreeType library and starts a new one after that; a library lives as long as its faces.

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>

#include "platform/linux/files/loaded_face.h"
#include "platform/linux/files/mapped_font_file.h"
#include "platform/linux/fonts/font_record.h"

namespace kfp::linux_backend {

class LinuxFontCollection;

// One face as a resolved font names it: the index's record without its names, and the identity
// of the file the face was first opened from. Small, and kept while the resolution is.
class FaceHandle {
 public:
  const FontRecord& record() const { return record_; }
  // True once the file was seen changed: the handle opens nothing any more.
  bool failed() const { return failed_; }

 private:
  friend class FaceStore;
  FontRecord record_;
  FileIdentity identity_;
  bool failed_ = false;
};

class FaceStore {
 public:
  static constexpr uint32_t kFacesPerLibrary = 32;
  // Far below the memory guard's soft limit, and room for a few hundred faces in use at once.
  static constexpr size_t kDefaultBudget = size_t(48) << 20;

  // nullptr when FreeType cannot be initialised.
  static std::shared_ptr<FaceStore> create(size_t budgetBytes = kDefaultBudget);

  // The handle of the record's face, shared while it is held; the face is opened (and pooled) to
  // check that it can be. nullptr when the file cannot be opened as that face. A handle whose file
  // changed is not handed out again: the next one is made over the file as it is now.
  std::shared_ptr<FaceHandle> handle(const FontRecord& record);
  // The open face of the handle, taken from the pool or opened again, and made the most recently
  // used; nullptr when it cannot be opened or its file is not the one the handle was made from.
  std::shared_ptr<LoadedFace> open(FaceHandle& handle);
  // handle() and open() in one, for callers that keep the face rather than a handle.
  std::shared_ptr<LoadedFace> face(const FontRecord& record);
  // The mapping of a font file, shared while it is held; nullptr when it cannot be mapped.
  std::shared_ptr<MappedFontFile> file(const std::string& path);
  // A FreeType library with room for one more face.
  std::shared_ptr<FreeTypeLibrary> library();

  // The slot of the collection made of the handle's face alone. Font lookup makes such a
  // collection for every id it resolves; sharing it spares the name-table reading and keeps an
  // id's cost to its entry. A live collection holds its handle, so a handle's address names at
  // most one live collection.
  std::weak_ptr<LinuxFontCollection>& soleCollection(const FaceHandle& handle) {
    return soleCollections_[&handle];
  }

  // Releases every pooled face (those in use live on with their users) and forgets what nobody
  // holds any more.
  void releasePool();
  // Forgets handles, faces, files and collections nobody holds any more.
  void forgetReleased();

  size_t budget() const { return budget_; }
  void setBudget(size_t bytes);
  size_t pooledFaces() const { return pool_.size(); }
  size_t pooledBytes() const { return pooledBytes_; }
  size_t rememberedFaces() const { return faces_.size(); }

 private:
  // A face as the maps know it, and a view of one that lookups use, so that finding a face
  // copies no path.
  struct FaceKeyView {
    std::string_view path;
    uint32_t faceIndex = 0;
    uint32_t namedInstance = 0;
    bool operator==(const FaceKeyView& other) const {
      return std::tie(path, faceIndex, namedInstance) ==
             std::tie(other.path, other.faceIndex, other.namedInstance);
    }
  };
  struct FaceKey {
    std::string path;
    uint32_t faceIndex = 0;
    uint32_t namedInstance = 0;
    operator FaceKeyView() const { return {path, faceIndex, namedInstance}; }
  };
  struct FaceKeyHash {
    using is_transparent = void;
    size_t operator()(FaceKeyView key) const;
  };
  struct FaceKeyEqual {
    using is_transparent = void;
    bool operator()(FaceKeyView a, FaceKeyView b) const { return a == b; }
  };
  struct Pooled {
    std::shared_ptr<LoadedFace> face;
    size_t bytes = 0;  // as counted when it was last made the most recent
  };
  using Pool = std::list<Pooled>;

  static FaceKeyView keyOf(const FontRecord& record) {
    return {record.path, record.faceIndex, record.namedInstance};
  }
  // The live face of the record over an unchanged file, or a newly opened one; nullptr on
  // failure. With `expected`, only a face over that version of the file.
  std::shared_ptr<LoadedFace> openFace(const FontRecord& record, const FileIdentity* expected);
  // Makes the face the most recent in the pool and releases the least recent beyond the budget.
  void use(const std::shared_ptr<LoadedFace>& face);
  void evict();

  std::unordered_map<FaceKey, std::weak_ptr<FaceHandle>, FaceKeyHash, FaceKeyEqual> handles_;
  std::unordered_map<FaceKey, std::weak_ptr<LoadedFace>, FaceKeyHash, FaceKeyEqual> faces_;
  std::unordered_map<std::string, std::weak_ptr<MappedFontFile>> files_;
  std::unordered_map<const FaceHandle*, std::weak_ptr<LinuxFontCollection>> soleCollections_;
  Pool pool_;  // most recent first
  std::unordered_map<const LoadedFace*, Pool::iterator> pooled_;
  size_t pooledBytes_ = 0;
  size_t budget_ = kDefaultBudget;
  std::shared_ptr<FreeTypeLibrary> library_;
  uint32_t facesOnLibrary_ = 0;
};

}  // namespace kfp::linux_backend
