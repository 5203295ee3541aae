#pragma once
// Seam: the platform services the renderer context acquires at start.

#include <cstdint>
#include <memory>

#include "base/error.h"
#include "platform/gdi.h"
#include "platform/graphics.h"
#include "platform/text_engine.h"

namespace kfp {

class Backend {
 public:
  virtual ~Backend() = default;
  virtual HResult createTextEngine(std::shared_ptr<TextEngine>* out) = 0;
  virtual HResult createGraphics(std::shared_ptr<Graphics>* out) = 0;
  virtual Gdi& gdi() = 0;
  // The process's private memory in bytes; 0 when it cannot be read.
  virtual uint64_t privateBytes() = 0;
  // Gives freed heap memory back to the system, so that privateBytes can fall after a cache clear.
  virtual void releaseFreeMemory() = 0;
  // Called when the resolved fonts are dropped: a backend that keeps open faces apart from them
  // lets them go too.
  virtual void dropOpenFaces() {}
};

}  // namespace kfp
