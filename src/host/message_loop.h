#pragma once
// The message loop: one frame read, guarded, parsed, dispatched and answered at a time.

#include <string_view>

namespace kfp {

class Backend;
class ByteReader;
class ByteWriter;

enum ExitCode : int {
  kExitOk = 0,
  kExitBadHandles = 2,
  kExitInitializeFailed = 3,
  kExitRenderWriteFailed = 4,
  kExitMemoryHardLimit = 75,
};

int runMessageLoop(Backend& backend, ByteReader& in, ByteWriter& out);

// Process entry: answers an argument text containing "--version", otherwise runs the loop on
// file descriptors 0 and 1 with the given backend.
int runRenderer(std::string_view argumentText, Backend& backend);

}  // namespace kfp
