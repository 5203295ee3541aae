#pragma once
// What the Windows renderer gives up once it is initialised. A font that takes control of the
// process must not gain from it what the protocol never needs.

namespace kfp::windows_backend {

// Sets process mitigation policies that hold until the process ends: no child processes, no
// extension points (AppInit DLLs, global hooks, Winsock providers, legacy IMEs), no images from
// remote shares or of low integrity, and an exception on any use of an invalid handle. Fonts
// outside the system's font folder stay allowed: users' own fonts must still resolve. A policy the
// Windows version lacks is left out; the others still apply.
void confineProcess();

}  // namespace kfp::windows_backend
