#include "platform/linux/text/text_engine.h"

#include <cmath>

#include "platform/linux/fonts/font_collection.h"
#include "platform/linux/fonts/font_set.h"
#include "platform/linux/text/layout_engine.h"
#include "platform/linux/text/paragraph_layout.h"
#include "platform/linux/text/text_format.h"

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

std::unique_ptr<TextFormat> LinuxTextEngine::createTextFormat(
    const TextFormatDescription& description) {
  const auto* collection =
      dynamic_cast<const LinuxFontCollection*>(description.fontCollection.get());
  if (!collection || !std::isfinite(description.fontSize) || description.fontSize <= 0)
    return nullptr;
  std::shared_ptr<FaceHandle> handle = collection->faceFor(
      description.familyName, description.weight, description.stretch, description.style);
  // Reopened when the pool released it; nothing when its file changed since it was resolved.
  std::shared_ptr<LoadedFace> face = handle && faces_ ? faces_->open(*handle) : nullptr;
  if (!face || !face->hbFont() || face->fileChanged()) return nullptr;
  return std::make_unique<LinuxTextFormat>(std::move(face), description.fontSize,
                                           description.weight, description.style,
                                           description.localeName);
}

std::unique_ptr<TextLayout> LinuxTextEngine::createTextLayout(std::u16string_view text,
                                                              const TextFormat& format,
                                                              float maxWidth, float /*maxHeight*/) {
  const auto* linuxFormat = dynamic_cast<const LinuxTextFormat*>(&format);
  if (!linuxFormat || !(maxWidth > 0)) return nullptr;
  if (!layoutEngine_) layoutEngine_ = LayoutEngine::create();
  if (!layoutEngine_) return nullptr;
  auto layout = std::make_unique<LinuxTextLayout>();
  if (!layOutText(*layoutEngine_, text, *linuxFormat, maxWidth, *layout)) return nullptr;
  // The file shrank under the layout: it was read from zero pages.
  if (linuxFormat->face()->fileChangeSeen()) return nullptr;
  return layout;
}

}  // namespace kfp::linux_backend
