#include "platform/linux/confine/confinement.h"

#include <sys/prctl.h>

#include "platform/linux/confine/landlock_ruleset.h"
#include "platform/linux/confine/seccomp_filter.h"

namespace kfp::confine {

ConfinementLayers confineProcess(const std::vector<std::string>& fontPaths) {
  ConfinementLayers layers;
  // Landlock and an unprivileged seccomp filter both require it; it also keeps set-id programs
  // from lending their rights, should one ever be reached.
  layers.noNewPrivileges = prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0;
  if (!layers.noNewPrivileges) return layers;
  std::vector<std::string> readable = fontPaths;
#ifdef KFP_SANITIZED
  // The leak check reads the process's maps and task list at exit, from a tracer task of its own
  // (a path of /proc/<pid>, whose directory procfs may make anew: only a rule on /proc holds).
  readable.push_back("/proc");
#endif
  layers.landlockAbi = restrictFileSystem(readable);
  layers.systemCallFilter = restrictSystemCalls();
  return layers;
}

std::string describe(const ConfinementLayers& layers) {
  std::string text = layers.noNewPrivileges ? "no_new_privs" : "no no_new_privs";
  text += layers.landlockAbi > 0 ? ", Landlock ABI " + std::to_string(layers.landlockAbi)
                                 : ", no Landlock";
  text += layers.systemCallFilter ? ", seccomp" : ", no seccomp";
  return text;
}

}  // namespace kfp::confine
