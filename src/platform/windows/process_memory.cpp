#include "platform/windows/process_memory.h"

#include <windows.h>

#include "platform/windows/test_hooks.h"

// After windows.h, which it needs.
#include <malloc.h>
#include <psapi.h>

namespace kfp::windows_backend {

static_assert(sizeof(PROCESS_MEMORY_COUNTERS_EX) == 80, "the record the call expects on x64");

uint64_t readPrivateBytes() {
  if (const std::optional<uint64_t> forced = testPrivateBytes()) return *forced;
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof counters;
  if (!K32GetProcessMemoryInfo(GetCurrentProcess(),
                               reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                               sizeof counters)) {
    return 0;
  }
  return counters.PrivateUsage;
}

// Hands the C runtime's free heap blocks back, so that the private commit can fall after a cache
// clear.
void releaseFreeHeap() {
  _heapmin();
}

}  // namespace kfp::windows_backend
