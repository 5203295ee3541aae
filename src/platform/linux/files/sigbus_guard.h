#pragma once
// Catches reads past the end of a font file that shrank while mapped (SIGBUS) and lets them
// continue on zero pages instead of killing the process. Only a fault the kernel raised at an
// address inside a registered range is handled; any other SIGBUS (another range, or one sent by
// kill or sigqueue) gets the default action, and the process ends as it would without the guard.
// The process entry unblocks SIGBUS at start: a fault while it is blocked is fatal whatever the
// handler.
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
