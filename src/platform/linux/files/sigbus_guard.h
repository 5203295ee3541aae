#pragma once
// Catches reads past the end of a font file that shrank while mapped (SIGBUS) and lets them
// continue on zero pages instead of killing the process. Only registered ranges are handled; any
// other SIGBUS keeps its default action.
//
// The renderer is single-threaded: ranges are added and removed between font reads, never while
// the handler can run, so the handler reads the registry without locking.

#include <atomic>
#include <cstddef>

namespace kfp::linux_backend {

// Installs the handler on first use. False when it could not be installed; the range is then not
// guarded (the mapping is still usable).
bool guardMappedRange(void* start, size_t length, std::atomic<bool>* faulted);
void unguardMappedRange(void* start);

}  // namespace kfp::linux_backend
