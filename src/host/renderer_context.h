#pragma once
// The renderer's composition root: the one long-lived object, owning the platform services, the
// font registry and the resolved-font cache, handed to every handler.

#include <memory>

#include "platform/platform_services.h"

namespace kfp {

class FontRegistry;
class ResolvedFontCache;

class RendererContext {
 public:
  explicit RendererContext(Backend& backend);
  ~RendererContext();
  RendererContext(const RendererContext&) = delete;
  RendererContext& operator=(const RendererContext&) = delete;

  // Acquires the platform services in order; false at the first failure, an allocation failure
  // included. Nothing below may be used unless it succeeded.
  bool initialize();
  // Empties the resolved-font cache and gives the freed memory back.
  void clearResolvedFonts();
  // Empties the resolved-font cache and keeps the freed memory for what comes next: a new font set
  // is resolved again at once, and every page given back would be faulted in again.
  void dropResolvedFonts();

  Backend& backend() { return platform_.backend(); }
  const PlatformServices& platform() const { return platform_; }
  FontRegistry& registry() { return *registry_; }
  ResolvedFontCache& resolvedFonts() { return *resolvedFonts_; }

 private:
  // Declaration order is construction order; destruction runs in reverse, maps first.
  PlatformServices platform_;
  std::unique_ptr<FontRegistry> registry_;
  std::unique_ptr<ResolvedFontCache> resolvedFonts_;
};

}  // namespace kfp
