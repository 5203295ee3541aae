#pragma once
// The platform seam: the services the renderer acquires at start, and what they make.
//
// One way to fail across the seam: an operation that makes something returns nullptr when it
// fails, and one that does something returns false. No seam operation throws, except that running
// out of memory raises std::bad_alloc. Whatever a failure means for a reply (which error code, a
// fallback, a default) is decided by the core, never by a backend.

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/gdi.h"
#include "platform/graphics.h"
#include "platform/installed_font.h"
#include "platform/text_engine.h"

namespace kfp {

class Backend {
 public:
  virtual ~Backend() = default;
  virtual std::shared_ptr<TextEngine> createTextEngine() = 0;
  virtual std::shared_ptr<Graphics> createGraphics() = 0;
  virtual Gdi& gdi() = 0;
  // The process's private memory in bytes; 0 when it cannot be read.
  virtual uint64_t privateBytes() = 0;
  // Gives freed heap memory back to the system, so that privateBytes can fall after a cache clear.
  virtual void releaseFreeMemory() = 0;
  // Called when the resolved fonts are dropped: a backend that keeps open faces apart from them
  // lets them go too.
  virtual void dropOpenFaces() {}
  // Every face of the installed fonts the backend resolves from, bitmap-only faces included, in a
  // stable order; false when the fonts cannot be enumerated. Used by --list-fonts only.
  virtual bool listInstalledFonts(std::vector<InstalledFont>* fonts) = 0;
};

}  // namespace kfp
