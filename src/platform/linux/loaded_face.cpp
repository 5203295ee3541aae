#include "platform/linux/loaded_face.h"

#include "platform/linux/glyph_cache.h"

namespace kfp::linux_backend {

std::shared_ptr<LoadedFace> LoadedFace::open(std::shared_ptr<FreeTypeLibrary> library,
                                             const FontRecord& record) {
  if (!library) return nullptr;
  // The destructor releases whatever was acquired when a later step fails.
  std::shared_ptr<LoadedFace> face(new LoadedFace());
  face->library_ = std::move(library);
  face->record_ = record;

  face->blob_ = hb_blob_create_from_file_or_fail(record.path.c_str());
  if (!face->blob_) return nullptr;
  unsigned int length = 0;
  const char* data = hb_blob_get_data(face->blob_, &length);
  if (!data || length == 0) return nullptr;

  // FreeType's face index carries the named instance in its upper 16 bits.
  FT_Long ftIndex = FT_Long(record.faceIndex) | FT_Long(record.namedInstance) << 16;
  if (FT_New_Memory_Face(face->library_->get(), reinterpret_cast<const FT_Byte*>(data),
                         FT_Long(length), ftIndex, &face->ftFace_) != 0) {
    face->ftFace_ = nullptr;
    return nullptr;
  }

  hb_face_t* hbFace = hb_face_create(face->blob_, record.faceIndex);
  bool usable = hb_face_get_glyph_count(hbFace) > 0;
  if (usable) face->hbFont_ = hb_font_create(hbFace);
  hb_face_destroy(hbFace);  // the font holds its own reference
  if (!usable) return nullptr;
  if (record.namedInstance > 0) {
    hb_font_set_var_named_instance(face->hbFont_, record.namedInstance - 1);
  }
  return face;
}

LoadedFace::~LoadedFace() {
  glyphCache_.reset();  // cached state may refer to the face
  if (hbFont_) hb_font_destroy(hbFont_);
  if (ftFace_) FT_Done_Face(ftFace_);
  if (blob_) hb_blob_destroy(blob_);
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
