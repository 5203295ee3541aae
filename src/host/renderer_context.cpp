#include "host/renderer_context.h"

#include <new>

#include "fonts/font_registry.h"
#include "layout/resolved_font_cache.h"

namespace kfp {

RendererContext::RendererContext(Backend& backend) : platform_(backend) {}

RendererContext::~RendererContext() {
  if (resolvedFonts_) resolvedFonts_->clear();
  if (registry_) registry_->clear();
}

bool RendererContext::initialize() {
  // Any failure, an allocation failure included, is a refusal, so that the host gets its
  // INITIALIZE_FAILED frame rather than a crashed process.
  try {
    registry_ = std::make_unique<FontRegistry>();
    resolvedFonts_ = std::make_unique<ResolvedFontCache>();
    return platform_.acquire();
  } catch (...) {
    return false;
  }
}

void RendererContext::clearResolvedFonts() {
  dropResolvedFonts();
  platform_.backend().releaseFreeMemory();
}

void RendererContext::dropResolvedFonts() {
  resolvedFonts_->clear();
  platform_.backend().dropOpenFaces();
}

}  // namespace kfp
