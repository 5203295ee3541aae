#pragma once
// The message loop: one frame read, guarded, parsed, dispatched and answered at a time.
//
// The host's one way to fail: a request that cannot be served is answered with an Error frame
// carrying its code (a per-font failure stays inside that font's item); a condition that ends the
// session ends the loop with one of the shared exit codes, after a FatalError frame where the
// protocol has one. Frames are the only output.

#include <functional>
#include <string_view>

#include "protocol/exit_codes.h"

namespace kfp {

class Backend;
class ByteReader;
class ByteWriter;

// How the loop ends once the session is over. kReturn releases every cache and returns the exit
// code. kExitAtOnce ends the process from inside the loop with that code and releases nothing: the
// OS takes the memory back in one step, where releasing tens of thousands of faces one by one
// would keep a host that restarts its renderer waiting.
enum class LoopEnd { kReturn, kExitAtOnce };

// `onReady` runs once initialisation has succeeded, before the first frame is read: the process
// entry confines the process there.
int runMessageLoop(Backend& backend, ByteReader& in, ByteWriter& out,
                   LoopEnd end = LoopEnd::kReturn, const std::function<void()>& onReady = {});

// The process entry's first decision, the same on every OS: an argument text containing
// "--version" anywhere (case-sensitive) is answered with the identity line and exit code 0.
bool isVersionRequest(std::string_view argumentText);
void writeVersionLine(ByteWriter& out);

}  // namespace kfp
