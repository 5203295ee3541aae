#pragma once
// The one long-lived object of the renderer: the platform services, the font registry and the
// resolved-font cache.

#include <memory>

#include "fonts/font_registry.h"
#include "layout/resolved_font_cache.h"
#include "platform/backend.h"

namespace kfp {

class RendererContext {
 public:
  explicit RendererContext(Backend& backend) : backend(backend) {}
  ~RendererContext();
  RendererContext(const RendererContext&) = delete;
  RendererContext& operator=(const RendererContext&) = delete;

  // Acquires the platform services in order; the code of the first failure, or of the last step.
  HResult initialize();
  // Empties the resolved-font cache and gives the freed memory back.
  void clearResolvedFonts();

  Backend& backend;
  // Declaration order is construction order; destruction runs in reverse, maps first.
  std::shared_ptr<TextEngine> textEngine;
  FontSetRef systemFontSet;
  const FontSet1* systemFontSet1 = nullptr;  // a view of systemFontSet; null without version 1
  std::shared_ptr<Graphics> graphics;
  FontRegistry registry;
  ResolvedFontCache resolvedFonts;

 private:
  HResult acquirePlatformServices();
};

}  // namespace kfp
