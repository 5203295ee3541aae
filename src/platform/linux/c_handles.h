#pragma once
// Owning handles for the C objects of the text stack (fontconfig, FreeType, HarfBuzz, ICU), so that
// no path needs a manual destroy call.

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <hb.h>
#include <unicode/ubidi.h>
#include <unicode/ubrk.h>

#include <memory>

namespace kfp::linux_backend {

template <typename T, auto destroy>
struct CHandleDeleter {
  void operator()(T* handle) const {
    if (handle) destroy(handle);
  }
};

template <typename T, auto destroy>
using CHandle = std::unique_ptr<T, CHandleDeleter<T, destroy>>;

using FcConfigPtr = CHandle<FcConfig, FcConfigDestroy>;
using FcPatternPtr = CHandle<FcPattern, FcPatternDestroy>;
using FcFontSetPtr = CHandle<FcFontSet, FcFontSetDestroy>;
using FcObjectSetPtr = CHandle<FcObjectSet, FcObjectSetDestroy>;

using FtFacePtr = CHandle<FT_FaceRec_, FT_Done_Face>;

using HbBlobPtr = CHandle<hb_blob_t, hb_blob_destroy>;
using HbFacePtr = CHandle<hb_face_t, hb_face_destroy>;
using HbFontPtr = CHandle<hb_font_t, hb_font_destroy>;
using HbBufferPtr = CHandle<hb_buffer_t, hb_buffer_destroy>;

using BreakIteratorPtr = CHandle<UBreakIterator, ubrk_close>;
using BidiPtr = CHandle<UBiDi, ubidi_close>;

}  // namespace kfp::linux_backend
