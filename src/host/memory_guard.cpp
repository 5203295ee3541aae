#include "host/memory_guard.h"

#include "platform/renderer_context.h"

namespace kfp {

MemoryVerdict checkMemory(RendererContext& context) {
  if (context.backend.privateBytes() > kHardMemoryLimit) return MemoryVerdict::HardLimitExceeded;
  // A second, separate reading: the first one may predate memory given back since.
  if (context.backend.privateBytes() > kSoftMemoryLimit) context.clearResolvedFonts();
  return MemoryVerdict::Ok;
}

}  // namespace kfp
