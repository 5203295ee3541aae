#include "platform/linux/font_collection.h"
#include "platform/linux/font_set.h"
#include "platform/linux/layout_engine.h"
#include "platform/linux/text_engine.h"

namespace kfp::linux_backend {

LinuxTextEngine::LinuxTextEngine(std::shared_ptr<FaceStore> faces,
                                 std::shared_ptr<const FontIndex> index)
    : faces_(std::move(faces)), index_(std::move(index)) {}

LinuxTextEngine::~LinuxTextEngine() = default;

HResult LinuxTextEngine::getSystemFontSet(FontSetRef* out) {
  if (!index_) return kFail;
  *out = LinuxFontSet::scalableFonts(index_);
  return kOk;
}

FontCollectionRef LinuxTextEngine::createFontCollection(const FontSet& fonts) {
  return faces_ ? createLinuxFontCollection(*faces_, fonts) : nullptr;
}

}  // namespace kfp::linux_backend
