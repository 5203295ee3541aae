#pragma once
// The platform services the renderer acquires once at start-up and that font lookup, layout and
// drawing call: the text engine, the installed font set (with its axis-aware view where the backend
// has one), the drawing factory and the GDI-style backend.

#include <memory>

#include "platform/backend.h"
#include "platform/font_set.h"

namespace kfp {

class PlatformServices {
 public:
  explicit PlatformServices(Backend& backend) : backend_(backend) {}
  PlatformServices(const PlatformServices&) = delete;
  PlatformServices& operator=(const PlatformServices&) = delete;

  // Acquires the services in order; false at the first that fails. Nothing below may be used
  // unless it succeeded.
  bool acquire();

  Backend& backend() const { return backend_; }
  TextEngine* textEngine() const { return textEngine_.get(); }
  const FontSet* systemFontSet() const { return systemFontSet_.get(); }
  // Null when the backend lacks axis-aware matching.
  const AxisAwareFontSet* systemAxisAwareFontSet() const { return systemAxisAware_; }
  Graphics* graphics() const { return graphics_.get(); }

 private:
  Backend& backend_;
  std::shared_ptr<TextEngine> textEngine_;
  FontSetRef systemFontSet_;
  const AxisAwareFontSet* systemAxisAware_ = nullptr;  // a view of systemFontSet_
  std::shared_ptr<Graphics> graphics_;
};

}  // namespace kfp
