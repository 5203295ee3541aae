#pragma once
// Rendered glyph images of one face, kept per pixel size and subpixel phase.

#include <memory>

namespace kfp::linux_backend {

class LoadedFace;

class GlyphCache {
 public:
  explicit GlyphCache(const LoadedFace& face);
  ~GlyphCache();

 private:
  const LoadedFace& face_;
};

}  // namespace kfp::linux_backend
