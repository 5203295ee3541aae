#include "platform/linux/files/sigbus_guard.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <map>

namespace kfp::linux_backend {
namespace {

struct GuardedRange {
  size_t length = 0;
  std::atomic<bool>* faulted = nullptr;
};

// Keyed by start address; read by the handler, written only outside it.
std::map<uintptr_t, GuardedRange>& guardedRanges() {
  static auto* ranges = new std::map<uintptr_t, GuardedRange>();  // never destroyed
  return *ranges;
}

// A read past the end of a mapped file is a bus error the kernel raises with an address error
// code; kill, sigqueue and tgkill give codes of zero or below.
bool isMappingFault(const siginfo_t* info) {
  return info->si_code == BUS_ADRERR || info->si_code == BUS_OBJERR;
}

// Anything not ours gets the default action: the handler is set aside and the signal raised
// again, so that a foreign SIGBUS ends the process as it would without the guard. Nothing
// survives that to find the guard disarmed.
[[noreturn]] void takeDefaultAction(int signal) {
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signal, &fallback, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  sigprocmask(SIG_UNBLOCK, &only, nullptr);
  raise(signal);
  _exit(128 + signal);  // not reached: the default action of SIGBUS ends the process
}

void onSigbus(int signal, siginfo_t* info, void*) {
  if (!isMappingFault(info)) takeDefaultAction(signal);
  const auto address = reinterpret_cast<uintptr_t>(info->si_addr);
  const auto& ranges = guardedRanges();
  auto it = ranges.upper_bound(address);
  if (it != ranges.begin()) {
    --it;
    if (address - it->first < it->second.length) {
      // The whole range, so that the face reads consistent zeros rather than a mix of old bytes
      // and zeros. mmap is a plain system call here, safe in a handler.
      void* start = reinterpret_cast<void*>(it->first);
      if (mmap(start, it->second.length, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1,
               0) != MAP_FAILED) {
        it->second.faulted->store(true, std::memory_order_relaxed);
        return;  // the faulting read is retried on the zero pages
      }
    }
  }
  takeDefaultAction(signal);
}

bool installHandler() {
  struct sigaction action {};
  action.sa_sigaction = onSigbus;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  return sigaction(SIGBUS, &action, nullptr) == 0;
}

}  // namespace

bool guardMappedRange(void* start, size_t length, std::atomic<bool>* faulted) {
  static const bool installed = installHandler();
  if (!installed) return false;
  guardedRanges()[reinterpret_cast<uintptr_t>(start)] = {length, faulted};
  return true;
}

void unguardMappedRange(void* start) {
  guardedRanges().erase(reinterpret_cast<uintptr_t>(start));
}

}  // namespace kfp::linux_backend
