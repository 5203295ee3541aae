#pragma once
// Owning wrapper for the FreeType faces the GDI-style backend opens.

#include <ft2build.h>
#include FT_FREETYPE_H

#include <memory>

namespace kfp::linux_backend {

struct FtFaceDeleter {
  void operator()(FT_Face face) const {
    if (face) FT_Done_Face(face);
  }
};
using FtFacePtr = std::unique_ptr<FT_FaceRec_, FtFaceDeleter>;

}  // namespace kfp::linux_backend
