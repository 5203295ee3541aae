#pragma once
// The renderer's process exit codes: what a host reads after a renderer ends.

namespace kfp {

enum ExitCode : int {
  kExitOk = 0,                 // end of input, a malformed frame, or Shutdown
  kExitBadHandles = 2,         // stdin or stdout unusable
  kExitInitializeFailed = 3,   // after an Error "INITIALIZE_FAILED" frame
  kExitRenderWriteFailed = 4,  // a RenderResult could not be written
  kExitMemoryHardLimit = 75,   // after a FatalError "MEMORY_HARD_LIMIT" frame
};

}  // namespace kfp
