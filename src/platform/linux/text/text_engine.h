#pragma once
// The Linux text engine: the installed-font index (fontconfig), font collections of opened faces
// (FreeType, HarfBuzz), and paragraph layout (HarfBuzz shaping, ICU breaking and bidi).

#include <memory>

#include "platform/linux/files/face_store.h"
#include "platform/text_engine.h"

namespace kfp::linux_backend {

class FontIndex;
class LayoutEngine;

class LinuxTextEngine : public TextEngine {
 public:
  LinuxTextEngine(std::shared_ptr<FaceStore> faces, std::shared_ptr<const FontIndex> index);
  ~LinuxTextEngine() override;

  // Font services.
  FontSetRef getSystemFontSet() override;
  FontCollectionRef createFontCollection(const FontSet& fonts) override;

  // Layout.
  std::unique_ptr<TextFormat> createTextFormat(const TextFormatDescription& description) override;
  std::unique_ptr<TextLayout> createTextLayout(std::u16string_view text, const TextFormat& format,
                                               float maxWidth, float maxHeight) override;

 private:
  std::shared_ptr<FaceStore> faces_;
  std::shared_ptr<const FontIndex> index_;
  // Reusable shaping and breaking state (ICU iterators, HarfBuzz buffer), created on first layout.
  std::unique_ptr<LayoutEngine> layoutEngine_;
};

}  // namespace kfp::linux_backend
