#include "host/renderer_context.h"

#include <new>

#include "fonts/font_registry.h"
#include "layout/resolved_font_cache.h"

namespace kfp {

RendererContext::RendererContext(Backend& backend) : backend_(backend) {}

RendererContext::~RendererContext() {
  if (resolvedFonts_) resolvedFonts_->clear();
  if (registry_) registry_->clear();
}

HResult RendererContext::initialize() {
  // Failures are reported as codes, an allocation failure included, so that the host gets its
  // INITIALIZE_FAILED frame rather than a crashed process.
  try {
    registry_ = std::make_unique<FontRegistry>();
    resolvedFonts_ = std::make_unique<ResolvedFontCache>();
    return acquirePlatformServices();
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  } catch (...) {
    return kFail;
  }
}

HResult RendererContext::acquirePlatformServices() {
  HResult hr = backend_.createTextEngine(&textEngine_);
  if (failed(hr)) return hr;
  if (!textEngine_) return kFail;
  systemFontSet_ = textEngine_->getSystemFontSet();
  if (!systemFontSet_) return kFail;
  systemFontSet1_ = systemFontSet_->asFontSet1();
  return backend_.createGraphics(&graphics_);
}

void RendererContext::clearResolvedFonts() {
  dropResolvedFonts();
  backend_.releaseFreeMemory();
}

void RendererContext::dropResolvedFonts() {
  resolvedFonts_->clear();
  backend_.dropOpenFaces();
}

}  // namespace kfp
