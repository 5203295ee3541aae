#include "host/memory_guard.h"

#include "host/renderer_context.h"

namespace kfp {

MemoryVerdict checkMemory(RendererContext& context) {
  Backend& backend = context.backend();
  uint64_t reading = backend.privateBytes();
  // The allocator may keep freed memory resident (glibc serves large blocks from its heap once
  // its mmap threshold has risen), and the figure would then count a dropped reply for good. A
  // figure above a limit is judged only after the free memory has been given back; below the
  // soft limit nothing is done, so the common frame pays for one reading.
  if (reading > kSoftMemoryLimit) {
    backend.releaseFreeMemory();
    reading = backend.privateBytes();
  }
  if (reading > kHardMemoryLimit) return MemoryVerdict::kHardLimitExceeded;
  if (reading > kSoftMemoryLimit) context.clearResolvedFonts();
  return MemoryVerdict::kOk;
}

}  // namespace kfp
