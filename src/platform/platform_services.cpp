#include "platform/platform_services.h"

namespace kfp {

bool PlatformServices::acquire() {
  textEngine_ = backend_.createTextEngine();
  if (!textEngine_) return false;
  systemFontSet_ = textEngine_->getSystemFontSet();
  if (!systemFontSet_) return false;
  systemAxisAware_ = systemFontSet_->asAxisAware();
  graphics_ = backend_.createGraphics();
  return graphics_ != nullptr;
}

}  // namespace kfp
