#include "platform/renderer_context.h"

#include <new>

namespace kfp {

RendererContext::~RendererContext() {
  resolvedFonts.clear();
  registry.clear();
}

HResult RendererContext::initialize() {
  // Failures are reported as codes, an allocation failure included, so that the host gets its
  // INITIALIZE_FAILED frame rather than a crashed process.
  try {
    return acquirePlatformServices();
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  } catch (...) {
    return kFail;
  }
}

HResult RendererContext::acquirePlatformServices() {
  HResult hr = backend.createTextEngine(&textEngine);
  if (failed(hr)) return hr;
  if (!textEngine) return kFail;
  hr = textEngine->getSystemFontSet(&systemFontSet);
  if (failed(hr)) return hr;
  if (!systemFontSet) return kFail;
  systemFontSet1 = systemFontSet ? systemFontSet->asFontSet1() : nullptr;
  return backend.createGraphics(&graphics);
}

void RendererContext::clearResolvedFonts() {
  resolvedFonts.clear();
  backend.releaseFreeMemory();
}

}  // namespace kfp
