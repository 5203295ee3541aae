#include "platform/linux/font_collection.h"
#include "platform/linux/font_set.h"
#include "platform/linux/layout_engine.h"
#include "platform/linux/text_engine.h"

namespace kfp::linux_backend {

LinuxTextEngine::LinuxTextEngine(std::shared_ptr<FreeTypeLibrary> library,
                                 std::shared_ptr<const FontIndex> index)
    : library_(std::move(library)), index_(std::move(index)) {}

LinuxTextEngine::~LinuxTextEngine() = default;

HResult LinuxTextEngine::getSystemFontSet(FontSetRef* out) {
  if (!index_) return kFail;
  *out = LinuxFontSet::scalableFonts(index_);
  return kOk;
}

FontCollectionRef LinuxTextEngine::createFontCollection(const FontSet& fonts) {
  return createLinuxFontCollection(library_, fonts);
}

}  // namespace kfp::linux_backend
