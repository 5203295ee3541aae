#pragma once
// Once per input frame: above the soft limit the resolved-font cache is dropped; above the hard
// limit the renderer gives up so that the host can start a fresh one.

#include <cstdint>

namespace kfp {

class RendererContext;

constexpr uint64_t kSoftMemoryLimit = 0xC000000;   // 192 MiB
constexpr uint64_t kHardMemoryLimit = 0x10000000;  // 256 MiB

enum class MemoryVerdict { kOk, kHardLimitExceeded };

// Clears the cache above the soft limit; reports the hard limit for the loop to act on.
MemoryVerdict checkMemory(RendererContext& context);

}  // namespace kfp
