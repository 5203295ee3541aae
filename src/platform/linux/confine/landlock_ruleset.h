#pragma once
// The file-system and network layer of the confinement: a Landlock ruleset under which the process
// may read the given directories (and what lies beneath them) and files, and nothing else: no
// writing, creating, removing, renaming, truncating or executing anywhere, and, where the kernel's
// ABI has them, no TCP bind or connect, no signals or abstract sockets reaching outside the
// process. Descriptors opened before stay usable: Landlock checks at open time.

#include <string>
#include <vector>

namespace kfp::confine {

// Restricts the calling process (and any child) for good. Needs no_new_privs set first. The
// Landlock ABI version applied, 0 when the kernel has no Landlock or the ruleset could not be
// applied (the process then runs without this layer). A path to a link names its target; paths
// that cannot be opened are left out.
int restrictFileSystem(const std::vector<std::string>& readablePaths);

}  // namespace kfp::confine
