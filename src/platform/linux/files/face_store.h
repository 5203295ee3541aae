#pragma once
// The backend's opened faces, shared: every font id, collection and GDI-style font that resolves
// to the same file, face index and named instance gets the same LoadedFace (and with it one glyph
// cache), and every face of a file reads one mapping of it. The store only remembers faces its
// holders keep alive; the resolved-font cache owns them, so clearing that cache releases them.
//
// Release is linear in the number of faces: FreeType finds a face to release by walking its
// library's face list from the oldest, so releasing N faces of one library newest first costs
// O(N^2) (50 000 faces: 100 s). The store therefore opens at most kFacesPerLibrary faces on each
// FreeType library and starts a new one after that; a library lives as long as its faces.

#include <cstdint>
#include <memory>
#include <string>
#include <tuple>
#include <unordered_map>

#include "platform/linux/files/loaded_face.h"
#include "platform/linux/files/mapped_font_file.h"
#include "platform/linux/fonts/font_record.h"

namespace kfp::linux_backend {

class LinuxFontCollection;

class FaceStore {
 public:
  static constexpr uint32_t kFacesPerLibrary = 32;

  static std::shared_ptr<FaceStore> create();  // nullptr when FreeType cannot be initialised

  // The face of the record, opened on first use and shared while it is held; nullptr when the file
  // cannot be opened as that face. A face whose file changed on disk is not handed out again: the
  // file is mapped anew.
  std::shared_ptr<LoadedFace> face(const FontRecord& record);
  // The mapping of a font file, shared while it is held; nullptr when it cannot be mapped.
  std::shared_ptr<MappedFontFile> file(const std::string& path);
  // A FreeType library with room for one more face.
  std::shared_ptr<FreeTypeLibrary> library();

  // The slot of the collection made of `face` alone. Font lookup makes such a collection for every
  // id it resolves; sharing it spares the name-table reading and keeps an id's cost to its entry.
  // A live collection holds its face, so a face's address names at most one live collection.
  std::weak_ptr<LinuxFontCollection>& soleCollection(const LoadedFace& face) {
    return soleCollections_[&face];
  }

  // Forgets faces, files and collections nobody holds any more.
  void forgetReleased();
  size_t rememberedFaces() const { return faces_.size(); }

 private:
  struct FaceKey {
    std::string path;
    uint32_t faceIndex = 0;
    uint32_t namedInstance = 0;
    bool operator==(const FaceKey& other) const {
      return std::tie(path, faceIndex, namedInstance) ==
             std::tie(other.path, other.faceIndex, other.namedInstance);
    }
  };
  struct FaceKeyHash {
    size_t operator()(const FaceKey& key) const;
  };

  std::unordered_map<FaceKey, std::weak_ptr<LoadedFace>, FaceKeyHash> faces_;
  std::unordered_map<std::string, std::weak_ptr<MappedFontFile>> files_;
  std::unordered_map<const LoadedFace*, std::weak_ptr<LinuxFontCollection>> soleCollections_;
  std::shared_ptr<FreeTypeLibrary> library_;
  uint32_t facesOnLibrary_ = 0;
};

}  // namespace kfp::linux_backend
