#include "platform/platform_services.h"

namespace kfp {

HResult PlatformServices::acquire() {
  HResult hr = backend_.createTextEngine(&textEngine_);
  if (failed(hr)) return hr;
  if (!textEngine_) return kFail;
  systemFontSet_ = textEngine_->getSystemFontSet();
  if (!systemFontSet_) return kFail;
  systemAxisAware_ = systemFontSet_->asAxisAware();
  return backend_.createGraphics(&graphics_);
}

}  // namespace kfp
