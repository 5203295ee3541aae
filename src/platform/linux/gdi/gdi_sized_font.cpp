#include "platform/linux/gdi/gdi_sized_font.h"

namespace kfp::linux_backend {

bool GdiSizedFont::ready() {
  if (source_) {
    face_ = source_();
    source_ = nullptr;
  }
  return face_ != nullptr;
}

}  // namespace kfp::linux_backend
