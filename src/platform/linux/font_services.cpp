#include "platform/linux/font_collection.h"
#include "platform/linux/font_set.h"
#include "platform/linux/layout_engine.h"
#include "platform/linux/text_engine.h"

namespace kfp::linux_backend {

LinuxTextEngine::LinuxTextEngine(std::shared_ptr<FreeTypeLibrary> library,
                                 std::shared_ptr<const FontIndex> index)
    : library_(std::move(library)), index_(std::move(index)) {}

LinuxTextEngine::~LinuxTextEngine() = default;

FontSetRef LinuxTextEngine::getSystemFontSet() {
  if (!index_) return nullptr;
  return LinuxFontSet::scalableFonts(index_);
}

FontCollectionRef LinuxTextEngine::createFontCollection(const FontSet& fonts) {
  return createLinuxFontCollection(library_, fonts);
}

}  // namespace kfp::linux_backend
