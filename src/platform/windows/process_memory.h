#pragma once
// The process's memory figure and giving freed heap back.

#include <cstdint>

namespace kfp::windows_backend {

// PROCESS_MEMORY_COUNTERS_EX::PrivateUsage; 0 when it cannot be read.
uint64_t readPrivateBytes();
void releaseFreeHeap();

}  // namespace kfp::windows_backend
