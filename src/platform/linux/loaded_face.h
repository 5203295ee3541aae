#pragma once
// An installed face opened for shaping and drawing: one FreeType face and one HarfBuzz font at the
// record's named instance. Held by font collections; released when the last holder goes.
//
// The file is memory-mapped once (an hb_blob); the FreeType face reads that mapping and the
// HarfBuzz font is built on an hb_face of the same blob with HarfBuzz's own OpenType functions (not
// hb_ft), at scale = units per em. Shaping therefore never depends on the size or coordinates the
// shared FT_Face is set to, and each side is given variation coordinates on its own
// (hb_font_set_var_coords_design / FT_Set_Var_Design_Coordinates); both start at the named
// instance of the record.

#include <ft2build.h>
#include FT_FREETYPE_H
#include <hb.h>

#include <memory>

#include "platform/linux/font_record.h"

namespace kfp::linux_backend {

class FreeTypeLibrary;
class GlyphCache;

class LoadedFace {
 public:
  // nullptr when the file cannot be opened as that face.
  static std::shared_ptr<LoadedFace> open(std::shared_ptr<FreeTypeLibrary> library,
                                          const FontRecord& record);
  ~LoadedFace();
  LoadedFace(const LoadedFace&) = delete;
  LoadedFace& operator=(const LoadedFace&) = delete;

  const FontRecord& record() const { return record_; }
  FT_Face ftFace() const { return ftFace_; }
  hb_font_t* hbFont() const { return hbFont_; }
  // The mapped font file; outlives ftFace() and hbFont().
  hb_blob_t* blob() const { return blob_; }
  // Glyph images of this face, created on first use by the drawing code.
  GlyphCache& glyphCache() const;

 private:
  LoadedFace() = default;
  std::shared_ptr<FreeTypeLibrary> library_;
  FontRecord record_;
  hb_blob_t* blob_ = nullptr;
  FT_Face ftFace_ = nullptr;
  hb_font_t* hbFont_ = nullptr;
  mutable std::unique_ptr<GlyphCache> glyphCache_;
};

// Owns the FreeType library handle shared by every face.
class FreeTypeLibrary {
 public:
  static std::shared_ptr<FreeTypeLibrary> create();  // nullptr on failure
  ~FreeTypeLibrary();
  FT_Library get() const { return library_; }

 private:
  FT_Library library_ = nullptr;
};

}  // namespace kfp::linux_backend
