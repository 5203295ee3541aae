#pragma once
// Test-only: the renderer's twin (built with KFP_TEST_HOOKS) shows from outside what its
// confinement refuses. The product reads none of this.
//
// KFP_TEST_CONFINEMENT=off         the twin starts unconfined (benchmarks, control runs).
// KFP_TEST_CONFINEMENT_PROBE=OP    once confined, the twin tries OP and writes one line to its
//                                  standard error, "probe OP: allowed" or "probe OP: refused
//                                  ERRNO", then serves frames as usual; an operation the filter
//                                  punishes ends the process with SIGSYS instead.
// OP is one of read:PATH, create:PATH, write:PATH, truncate:PATH, socket, connect:PORT (TCP on
// 127.0.0.1), execve:PATH, ptrace, fork, thread, signal:PID, exec-memory.

#include "platform/linux/confine/confinement.h"

namespace kfp::confine {

bool confinementSwitchedOff();
// Writes the layers line and the probe's outcome to `reportFd`; nothing when no probe was asked.
void runConfinementProbe(int reportFd, const ConfinementLayers& layers);

}  // namespace kfp::confine
