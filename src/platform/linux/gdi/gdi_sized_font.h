#pragma once
// A GDI-style font of the Linux backend: the face name it was selected under and the sized face
// behind it. A deferred font knows its face name at once and looks its face up on first use, so
// that a substitute which the caller only checks by name costs nothing more.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/gdi.h"
#include "platform/linux/gdi/gdi_sized_face.h"

namespace kfp::linux_backend {

class GdiSizedFont : public GdiFont {
 public:
  using FaceSource = std::function<std::shared_ptr<GdiSizedFace>()>;
  GdiSizedFont(std::u16string faceName, FaceSource source)
      : faceName_(std::move(faceName)), source_(std::move(source)) {}

  const std::u16string& faceName() const { return faceName_; }
  // Looks the sized face up if that has not been tried yet; false when there is none. Everything
  // below needs it to have returned true.
  bool ready() {
    if (source_) {
      face_ = source_();
      source_ = nullptr;
    }
    return face_ != nullptr;
  }
  GdiTextMetrics metrics() const { return face_->metrics(); }
  int ascent() const { return face_->ascent(); }
  int fitCount(std::u16string_view run, int maxExtent) { return face_->fitCount(run, maxExtent); }
  int64_t extent(std::u16string_view run) { return face_->extent(run); }
  void draw(std::u16string_view run, int x, int y, uint32_t colorRef, BgrxSurface surface) {
    face_->draw(run, x, y, colorRef, surface);
  }

 private:
  std::u16string faceName_;
  FaceSource source_;  // empty once tried
  std::shared_ptr<GdiSizedFace> face_;
};

}  // namespace kfp::linux_backend
