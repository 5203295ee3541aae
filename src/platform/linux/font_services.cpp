#include "platform/linux/font_collection.h"
#include "platform/linux/font_set.h"
#include "platform/linux/layout_engine.h"
#include "platform/linux/text_engine.h"

namespace kfp::linux_backend {

LinuxTextEngine::LinuxTextEngine(std::shared_ptr<FaceStore> faces,
                                 std::shared_ptr<const FontIndex> index)
    : faces_(std::move(faces)), index_(std::move(index)) {}

LinuxTextEngine::~LinuxTextEngine() = default;

FontSetRef LinuxTextEngine::getSystemFontSet() {
  if (!index_) return nullptr;
  return LinuxFontSet::scalableFonts(index_);
}

FontCollectionRef LinuxTextEngine::createFontCollection(const FontSet& fonts) {
  return faces_ ? createLinuxFontCollection(*faces_, fonts) : nullptr;
}

}  // namespace kfp::linux_backend
