#pragma once
// The process's memory figure and giving freed heap back to the system.

#include <cstdint>

namespace kfp::linux_backend {

uint64_t readPrivateBytes();
void releaseFreeHeap();

}  // namespace kfp::linux_backend
