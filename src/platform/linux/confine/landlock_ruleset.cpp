#include "platform/linux/confine/landlock_ruleset.h"

#include <fcntl.h>
#include <linux/landlock.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>

namespace kfp::confine {
namespace {

// The rights of each ABI version, spelled out here: the distribution's kernel headers stop at
// version 2, the kernels it runs on go further.
constexpr uint64_t kFsAbi1 = (1ULL << 13) - 1;            // execute … make_sym
constexpr uint64_t kFsRefer = 1ULL << 13;                 // ABI 2
constexpr uint64_t kFsTruncate = 1ULL << 14;              // ABI 3
constexpr uint64_t kFsIoctlDevice = 1ULL << 15;           // ABI 5
constexpr uint64_t kNetBindTcp = 1ULL << 0;               // ABI 4
constexpr uint64_t kNetConnectTcp = 1ULL << 1;            // ABI 4
constexpr uint64_t kScopeAbstractUnixSocket = 1ULL << 0;  // ABI 6
constexpr uint64_t kScopeSignal = 1ULL << 1;              // ABI 6
constexpr uint64_t kReadFile = 1ULL << 2;
constexpr uint64_t kReadDirectory = 1ULL << 3;

// landlock_ruleset_attr as of ABI 6; older kernels take a prefix of it.
struct RulesetAttributes {
  uint64_t handledAccessFs;
  uint64_t handledAccessNet;
  uint64_t scoped;
};

struct __attribute__((packed)) PathBeneathAttributes {
  uint64_t allowedAccess;
  int32_t parentFd;
};

int abiVersion() {
  const long version =
      syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
  return version < 0 ? 0 : int(version);
}

}  // namespace

int restrictFileSystem(const std::vector<std::string>& readablePaths) {
  const int abi = abiVersion();
  if (abi <= 0) return 0;
  RulesetAttributes attributes{kFsAbi1, 0, 0};
  size_t attributesSize = sizeof(uint64_t);
  if (abi >= 2) attributes.handledAccessFs |= kFsRefer;
  if (abi >= 3) attributes.handledAccessFs |= kFsTruncate;
  if (abi >= 4) {
    attributes.handledAccessNet = kNetBindTcp | kNetConnectTcp;
    attributesSize = 2 * sizeof(uint64_t);
  }
  if (abi >= 5) attributes.handledAccessFs |= kFsIoctlDevice;
  if (abi >= 6) {
    attributes.scoped = kScopeAbstractUnixSocket | kScopeSignal;
    attributesSize = sizeof attributes;
  }
  const int ruleset = int(syscall(SYS_landlock_create_ruleset, &attributes, attributesSize, 0));
  if (ruleset < 0) return 0;
  for (const std::string& path : readablePaths) {
    const int fd = open(path.c_str(), O_PATH | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat info {};
    // A rule on a file may only carry the rights of a file.
    const uint64_t rights =
        fstat(fd, &info) == 0 && S_ISDIR(info.st_mode) ? kReadFile | kReadDirectory : kReadFile;
    const PathBeneathAttributes rule{rights, fd};
    syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0);
    close(fd);
  }
  const bool applied = syscall(SYS_landlock_restrict_self, ruleset, 0) == 0;
  close(ruleset);
  return applied ? abi : 0;
}

}  // namespace kfp::confine
