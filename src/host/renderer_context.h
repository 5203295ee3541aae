#pragma once
// The one long-lived object of the renderer: the platform services, the font registry and the
// resolved-font cache.

#include <memory>

#include "platform/backend.h"
#include "platform/font_set.h"

namespace kfp {

class FontRegistry;
class ResolvedFontCache;

class RendererContext {
 public:
  explicit RendererContext(Backend& backend);
  ~RendererContext();
  RendererContext(const RendererContext&) = delete;
  RendererContext& operator=(const RendererContext&) = delete;

  // Acquires the platform services in order; the code of the first failure, or of the last step.
  // Nothing below may be used unless it succeeded.
  HResult initialize();
  // Empties the resolved-font cache and gives the freed memory back.
  void clearResolvedFonts();
  // Empties the resolved-font cache and keeps the freed memory for what comes next: a new font set
  // is resolved again at once, and every page given back would be faulted in again.
  void dropResolvedFonts();

  Backend& backend() { return backend_; }
  TextEngine* textEngine() { return textEngine_.get(); }
  const FontSet* systemFontSet() const { return systemFontSet_.get(); }
  const FontSet1* systemFontSet1() const { return systemFontSet1_; }  // null without version 1
  Graphics* graphics() { return graphics_.get(); }
  FontRegistry& registry() { return *registry_; }
  ResolvedFontCache& resolvedFonts() { return *resolvedFonts_; }

 private:
  HResult acquirePlatformServices();

  Backend& backend_;
  // Declaration order is construction order; destruction runs in reverse, maps first.
  std::shared_ptr<TextEngine> textEngine_;
  FontSetRef systemFontSet_;
  const FontSet1* systemFontSet1_ = nullptr;  // a view of systemFontSet_
  std::shared_ptr<Graphics> graphics_;
  std::unique_ptr<FontRegistry> registry_;
  std::unique_ptr<ResolvedFontCache> resolvedFonts_;
};

}  // namespace kfp
