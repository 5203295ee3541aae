#pragma once
// Owning wrappers for the fontconfig and HarfBuzz handles the font index and collections hold.

#include <fontconfig/fontconfig.h>
#include <hb.h>

#include <memory>

namespace kfp::linux_backend {

template <typename T, void (*destroy)(T*)>
struct CHandleDeleter {
  void operator()(T* handle) const {
    if (handle) destroy(handle);
  }
};

using FcConfigPtr = std::unique_ptr<FcConfig, CHandleDeleter<FcConfig, FcConfigDestroy>>;
using FcPatternPtr = std::unique_ptr<FcPattern, CHandleDeleter<FcPattern, FcPatternDestroy>>;
using FcFontSetPtr = std::unique_ptr<FcFontSet, CHandleDeleter<FcFontSet, FcFontSetDestroy>>;
using FcObjectSetPtr =
    std::unique_ptr<FcObjectSet, CHandleDeleter<FcObjectSet, FcObjectSetDestroy>>;

using HbBlobPtr = std::unique_ptr<hb_blob_t, CHandleDeleter<hb_blob_t, hb_blob_destroy>>;
using HbFacePtr = std::unique_ptr<hb_face_t, CHandleDeleter<hb_face_t, hb_face_destroy>>;
using HbFontPtr = std::unique_ptr<hb_font_t, CHandleDeleter<hb_font_t, hb_font_destroy>>;

}  // namespace kfp::linux_backend
