#include "platform/renderer_context.h"

namespace kfp {

RendererContext::~RendererContext() {
  resolvedFonts.clear();
  registry.stagedFonts.clear();
  registry.activeFonts.clear();
}

HResult RendererContext::initialize() {
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
