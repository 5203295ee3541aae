#pragma once
// The renderer's confinement after start-up: font files are untrusted input, and once the font
// index is built nothing in the protocol needs the user's files, the network or other programs.
// Three layers, in this order: no new privileges, Landlock (read-only access beneath the font
// directories), a seccomp allow-list. Each applies when the kernel offers it; the others still do
// when one does not.

#include <string>
#include <vector>

namespace kfp::confine {

struct ConfinementLayers {
  bool noNewPrivileges = false;
  int landlockAbi = 0;  // 0: no Landlock layer
  bool systemCallFilter = false;
};

// Confines the calling process for good. Call it single-threaded, after every descriptor the
// process keeps (the frame streams, /proc/self/statm) is open and before untrusted input is read.
// `fontPaths`: the directories and files that stay readable.
ConfinementLayers confineProcess(const std::vector<std::string>& fontPaths);

// One line naming the layers in force, for benchmarks and probes.
std::string describe(const ConfinementLayers& layers);

}  // namespace kfp::confine
