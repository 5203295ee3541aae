// The bus-error guard acts only on a fault the kernel raised inside a registered mapping. Every
// case runs in a child process (a death test): a SIGBUS that is not a guarded fault must end the
// process with SIGBUS, a guarded one must let it go on, reading zeros, with the guard still armed.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "platform/linux/files/sigbus_guard.h"

namespace kfp::linux_backend {
namespace {

namespace fs = std::filesystem;

constexpr size_t kFileBytes = 3 * 4096;

// A file of kFileBytes mapped read-only; truncate() shrinks it under the mapping.
struct MappedFile {
  explicit MappedFile(const std::string& name) {
    path = fs::path(::testing::TempDir()) / (name + std::to_string(getpid()));
    std::ofstream(path, std::ios::binary) << std::string(kFileBytes, 'x');
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    data = static_cast<const volatile char*>(
        mmap(nullptr, kFileBytes, PROT_READ, MAP_PRIVATE | MAP_NORESERVE, fd, 0));
    close(fd);
  }
  ~MappedFile() { fs::remove(path); }
  void shrink() const { (void)truncate(path.c_str(), 0); }
  char readLastByte() const { return data[kFileBytes - 1]; }
  void* start() const { return const_cast<char*>(data); }

  fs::path path;
  const volatile char* data;
};

// A SIGBUS that says it comes from the kernel's fault path only by its address, sent the way
// sigqueue does: si_code SI_QUEUE.
void queueSigbusAt(const void* address) {
  siginfo_t info{};
  info.si_signo = SIGBUS;
  info.si_code = SI_QUEUE;
  info.si_addr = const_cast<void*>(address);
  syscall(SYS_rt_tgsigqueueinfo, getpid(), gettid(), SIGBUS, &info);
}

struct Case {
  const char* name;
  std::function<void()> run;  // returns only if the process survived what it did
  bool survives;
};

TEST(SigbusGuardTest, OnlyFaultsInsideGuardedMappingsAreCaught) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const Case kCases[] = {
      {"a read past the end of a guarded file, then of a second one",
       [] {
         std::atomic<bool> firstFaulted{false}, secondFaulted{false};
         MappedFile first("guarded_a_"), second("guarded_b_");
         if (!guardMappedRange(first.start(), kFileBytes, &firstFaulted)) std::_Exit(2);
         if (!guardMappedRange(second.start(), kFileBytes, &secondFaulted)) std::_Exit(2);
         first.shrink();
         if (first.readLastByte() != 0 || !firstFaulted) std::_Exit(3);
         // Still armed after the first fault.
         second.shrink();
         if (second.readLastByte() != 0 || !secondFaulted) std::_Exit(4);
       },
       true},
      {"a read past the end of a file that is not guarded",
       [] {
         std::atomic<bool> faulted{false};
         MappedFile guarded("guarded_"), other("unguarded_");
         guardMappedRange(guarded.start(), kFileBytes, &faulted);
         other.shrink();
         (void)other.readLastByte();
       },
       false},
      {"a range no longer guarded",
       [] {
         std::atomic<bool> faulted{false};
         MappedFile file("unguarded_again_");
         guardMappedRange(file.start(), kFileBytes, &faulted);
         unguardMappedRange(file.start());
         file.shrink();
         (void)file.readLastByte();
       },
       false},
      {"kill -BUS once a file is guarded",
       [] {
         std::atomic<bool> faulted{false};
         MappedFile file("killed_");
         guardMappedRange(file.start(), kFileBytes, &faulted);
         kill(getpid(), SIGBUS);
       },
       false},
      {"a queued SIGBUS naming an address inside a guarded file",
       [] {
         std::atomic<bool> faulted{false};
         MappedFile file("queued_");
         guardMappedRange(file.start(), kFileBytes, &faulted);
         queueSigbusAt(file.start());
       },
       false},
      {"a kill -BUS left pending under a blocked mask, then unblocked",
       [] {
         // Delivered later, outside any fault, it is still foreign.
         std::atomic<bool> faulted{false};
         MappedFile file("pending_");
         guardMappedRange(file.start(), kFileBytes, &faulted);
         sigset_t bus;
         sigemptyset(&bus);
         sigaddset(&bus, SIGBUS);
         sigprocmask(SIG_BLOCK, &bus, nullptr);
         kill(getpid(), SIGBUS);
         sigprocmask(SIG_UNBLOCK, &bus, nullptr);
       },
       false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    if (c.survives) {
      EXPECT_EXIT((c.run(), std::_Exit(0)), ::testing::ExitedWithCode(0), "");
    } else {
      EXPECT_EXIT((c.run(), std::_Exit(0)), ::testing::KilledBySignal(SIGBUS), "");
    }
  }
}

}  // namespace
}  // namespace kfp::linux_backend
