#pragma once
// An installed face opened for shaping and drawing: one FreeType face and one HarfBuzz font at the
// record's named instance. Shared, through the face store, by every font id and collection that
// resolves to the same file, face index and named instance; released when the last holder goes.
//
// The HarfBuzz font reads private copies of its tables, copied out of the mapping (within the
// extents the table directory gives) when the face is opened (the shaping tables) or on first
// request (any other), since HarfBuzz validates a table once and then trusts it: bytes changed
// under it would be a memory-safety fault, not just a wrong picture. The FreeType face is opened
// only when something is drawn (measuring needs the HarfBuzz font alone); it reads the shared
// mapping through a copying stream, under the bus-error guard (openFreeTypeFace). A face in a
// container other than a bare sfnt or collection (WOFF, ...) is opened in FreeType at once, and
// its table copies are made through it. It uses HarfBuzz's own OpenType functions (not
// hb_ft), at scale = units per em. Shaping therefore never depends on the size or coordinates the
// FT_Face is set to, and each side is given variation coordinates on its own
// (hb_font_set_var_coords_design / FT_Set_Var_Design_Coordinates); both start at the named instance
// of the record.

#include <memory>

#include "platform/linux/c_handles.h"
#include "platform/linux/files/mapped_font_file.h"
#include "platform/linux/fonts/face_metrics.h"
#include "platform/linux/fonts/font_record.h"

namespace kfp::linux_backend {

class GlyphCache;

// Owns one FreeType library handle. FreeType keeps a library's faces in a list that each
// FT_Done_Face searches from the oldest, so the face store opens only a bounded number of faces
// per library (see FaceStore::library()).
class FreeTypeLibrary {
 public:
  static std::shared_ptr<FreeTypeLibrary> create();  // nullptr on failure
  ~FreeTypeLibrary();
  FT_Library get() const { return library_; }

 private:
  FT_Library library_ = nullptr;
};

// Opens face `index` of the mapped file in FreeType through `stream`, which must outlive the face.
// FreeType reads a stream with a read function by copying: the tables it validates once and then
// trusts (cmap, loca, the bitmap strike index) become private copies, and each glyph is parsed from
// a copy of its bytes, so a file changed under it cannot move what it checked. The copies are
// made from the mapping, under the bus-error guard.
FT_Error openFreeTypeFace(FT_Library library, const MappedFontFile& file, FT_Long index,
                          FT_StreamRec* stream, FT_Face* face);

class LoadedFace {
 public:
  // nullptr when the mapped file cannot be opened as that face.
  static std::shared_ptr<LoadedFace> open(std::shared_ptr<FreeTypeLibrary> library,
                                          std::shared_ptr<MappedFontFile> file,
                                          const FontRecord& record);
  ~LoadedFace();
  LoadedFace(const LoadedFace&) = delete;
  LoadedFace& operator=(const LoadedFace&) = delete;

  const FontRecord& record() const { return record_; }
  // The FreeType face, opened on first use: measuring needs only the HarfBuzz font. nullptr when
  // FreeType cannot open the face.
  FT_Face ftFace() const;
  // Whether the FreeType face has been opened (and not failed to).
  bool hasFreeTypeFace() const { return ftFace_ != nullptr; }
  hb_font_t* hbFont() const { return hbFont_.get(); }
  // Whether the font calls itself bold (OS/2 fsSelection, else head macStyle), as FreeType's style
  // flags say.
  bool markedBold() const;
  // The face's line metrics in font units (face_metrics.h).
  FaceLineMetrics lineMetrics() const;
  // True when the font file changed on disk since it was mapped: the face must not be used.
  bool fileChanged() const { return file_->changed(); }
  // Without a system call: true once a read of the file faulted (it shrank while in use), the
  // watch reported a write, or a change was seen; what was read from it since is not trusted.
  bool fileChangeSeen() const { return file_->knownChanged(); }
  // Glyph images of this face, created on first use by the drawing code.
  GlyphCache& glyphCache() const;
  // The mapping the face reads.
  const MappedFontFile& file() const { return *file_; }
  // Bytes of the table copies made so far.
  size_t tableBytes() const;
  // An estimate of the heap memory the face holds, for the face pool's budget.
  size_t memoryBytes() const;

 private:
  LoadedFace() = default;
  // Declaration order is release order in reverse: caches, then the font objects, then the
  // mapping they read, then the library.
  std::shared_ptr<FreeTypeLibrary> library_;
  std::shared_ptr<MappedFontFile> file_;
  mutable FT_StreamRec stream_{};
  mutable FtFacePtr ftFace_;
  mutable bool ftTried_ = false;
  bool sfnt_ = false;  // tables read from the directory in the mapping, not through FreeType
  HbFontPtr hbFont_;
  const void* tableCopies_ = nullptr;  // owned by the HarfBuzz face
  mutable size_t freeTypeBytes_ = 0;
  FontRecord record_;
  mutable std::unique_ptr<GlyphCache> glyphCache_;
};

}  // namespace kfp::linux_backend
