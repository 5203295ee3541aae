#pragma once
// The system-call layer of the confinement: a seccomp-bpf allow-list (libseccomp) of what the
// message loop, the backend's libraries, the memory guard, the changed-file handling (SIGBUS,
// inotify, SIGIO) and the allocator call once start-up is over. Calls that only an attack would
// make (running programs, tracing or reading other processes, sockets, new processes, mounts,
// kernel modules, BPF) end the process at once; anything else off the list fails with EPERM, so
// that a library probing for an optional call carries on.

namespace kfp::confine {

// Loads the filter for the calling process and its children, for good. False when the kernel or
// libseccomp refused it (the process then runs without this layer).
bool restrictSystemCalls();

}  // namespace kfp::confine
