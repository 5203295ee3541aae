#include "platform/linux/files/loaded_face.h"

#include "platform/linux/raster/glyph_cache.h"

namespace kfp::linux_backend {

std::shared_ptr<LoadedFace> LoadedFace::open(std::shared_ptr<FreeTypeLibrary> library,
                                             std::shared_ptr<MappedFontFile> file,
                                             const FontRecord& record) {
  if (!library || !file) return nullptr;
  std::shared_ptr<LoadedFace> face(new LoadedFace());
  face->library_ = std::move(library);
  face->file_ = std::move(file);
  face->record_ = record;

  const MappedFontFile& mapped = *face->file_;
  // The mapping outlives the blob: the face holds both and releases the blob first.
  face->blob_.reset(hb_blob_create_or_fail(mapped.data(), unsigned(mapped.size()),
                                           HB_MEMORY_MODE_READONLY_MAY_MAKE_WRITABLE, nullptr,
                                           nullptr));
  if (!face->blob_) return nullptr;

  // FreeType's face index carries the named instance in its upper 16 bits.
  FT_Long ftIndex = FT_Long(record.faceIndex) | FT_Long(record.namedInstance) << 16;
  FT_Face ftFace = nullptr;
  if (FT_New_Memory_Face(face->library_->get(), reinterpret_cast<const FT_Byte*>(mapped.data()),
                         FT_Long(mapped.size()), ftIndex, &ftFace) != 0) {
    return nullptr;
  }
  face->ftFace_.reset(ftFace);

  HbFacePtr hbFace(hb_face_create(face->blob_.get(), record.faceIndex));
  if (hb_face_get_glyph_count(hbFace.get()) == 0) return nullptr;
  face->hbFont_.reset(hb_font_create(hbFace.get()));  // the font holds its own face reference
  if (record.namedInstance > 0) {
    hb_font_set_var_named_instance(face->hbFont_.get(), record.namedInstance - 1);
  }
  return face;
}

LoadedFace::~LoadedFace() {
  glyphCache_.reset();  // cached state may refer to the face
}

std::shared_ptr<FreeTypeLibrary> FreeTypeLibrary::create() {
  auto library = std::make_shared<FreeTypeLibrary>();
  if (FT_Init_FreeType(&library->library_) != 0) {
    library->library_ = nullptr;
    return nullptr;
  }
  return library;
}

FreeTypeLibrary::~FreeTypeLibrary() {
  if (library_) FT_Done_FreeType(library_);
}

}  // namespace kfp::linux_backend
