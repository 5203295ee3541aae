#include "platform/linux/confine/seccomp_filter.h"

#include <fcntl.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>

namespace kfp::confine {
namespace {

class Filter {
 public:
  Filter() : context_(seccomp_init(SCMP_ACT_ERRNO(EPERM))) {}
  ~Filter() {
    if (context_) seccomp_release(context_);
  }
  Filter(const Filter&) = delete;
  Filter& operator=(const Filter&) = delete;

  bool valid() const { return context_ != nullptr && ok_; }
  scmp_filter_ctx get() const { return context_; }

  void allow(std::initializer_list<int> calls) { add(SCMP_ACT_ALLOW, calls); }
  void kill(std::initializer_list<int> calls) { add(SCMP_ACT_KILL_PROCESS, calls); }
  void allowIf(int call, scmp_arg_cmp condition) { rule(SCMP_ACT_ALLOW, call, 1, &condition); }
  void allowIf2(int call, scmp_arg_cmp first, scmp_arg_cmp second) {
    const scmp_arg_cmp both[] = {first, second};
    rule(SCMP_ACT_ALLOW, call, 2, both);
  }
  void killIf(int call, scmp_arg_cmp condition) {
    rule(SCMP_ACT_KILL_PROCESS, call, 1, &condition);
  }
  void fail(int call, int error) { rule(SCMP_ACT_ERRNO(error), call, 0, nullptr); }

 private:
  void add(uint32_t action, std::initializer_list<int> calls) {
    for (const int call : calls) rule(action, call, 0, nullptr);
  }
  void rule(uint32_t action, int call, unsigned count, const scmp_arg_cmp* conditions) {
    // A call this architecture lacks (a negative pseudo-number) is not there to allow or refuse.
    if (call < 0) return;
    if (context_ && seccomp_rule_add_array(context_, action, call, count, conditions) != 0) {
      ok_ = false;
    }
  }

  scmp_filter_ctx context_;
  bool ok_ = true;
};

// Writing, creating or truncating through a new descriptor; reading, directories and O_PATH stay
// open. (O_TMPFILE needs write access, and its bits include O_DIRECTORY: it is not in the mask.)
constexpr scmp_datum_t kWritingOpenFlags = O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND;

void allowTheRenderersCalls(Filter& f) {
  const scmp_datum_t self = scmp_datum_t(getpid());
  // The frame streams: blocking or not, with partial transfers and EINTR; closing descriptors.
  f.allow({SCMP_SYS(read), SCMP_SYS(readv), SCMP_SYS(pread64), SCMP_SYS(write), SCMP_SYS(writev),
           SCMP_SYS(poll), SCMP_SYS(ppoll), SCMP_SYS(close), SCMP_SYS(lseek)});
  // Font files, read and mapped (FreeType, the face store, the variable-font reader), their
  // identity checks, fontconfig's and ICU's look-ups; Landlock decides which paths.
  f.allowIf(SCMP_SYS(openat), SCMP_A2(SCMP_CMP_MASKED_EQ, kWritingOpenFlags, 0));
  f.allowIf(SCMP_SYS(open), SCMP_A1(SCMP_CMP_MASKED_EQ, kWritingOpenFlags, 0));
  f.allow({SCMP_SYS(fstat), SCMP_SYS(stat), SCMP_SYS(lstat), SCMP_SYS(newfstatat), SCMP_SYS(statx),
           SCMP_SYS(fstatfs), SCMP_SYS(statfs), SCMP_SYS(access), SCMP_SYS(faccessat),
           SCMP_SYS(faccessat2), SCMP_SYS(getdents64), SCMP_SYS(readlink)});
  // Descriptor flags, and the owner of the file watch's SIGIO: this process only.
  for (const int command : {F_GETFD, F_SETFD, F_GETFL, F_SETFL}) {
    f.allowIf(SCMP_SYS(fcntl), SCMP_A1(SCMP_CMP_EQ, scmp_datum_t(command)));
  }
  f.allowIf2(SCMP_SYS(fcntl), SCMP_A1(SCMP_CMP_EQ, F_SETOWN), SCMP_A2(SCMP_CMP_EQ, self));
  // The allocator, the mappings of font files and the bus-error guard's zero pages: never new
  // executable memory.
  f.allowIf(SCMP_SYS(mmap), SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0));
  f.allowIf(SCMP_SYS(mprotect), SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0));
  f.allow({SCMP_SYS(munmap), SCMP_SYS(mremap), SCMP_SYS(madvise), SCMP_SYS(brk)});
  // The file watch: inotify, and SIGIO on its events.
  f.allow({SCMP_SYS(inotify_init1), SCMP_SYS(inotify_add_watch), SCMP_SYS(inotify_rm_watch)});
  // Signal handling (SIGBUS, SIGIO), and the default action re-raised on the process itself only.
  f.allow({SCMP_SYS(rt_sigaction), SCMP_SYS(rt_sigprocmask), SCMP_SYS(rt_sigreturn),
           SCMP_SYS(restart_syscall), SCMP_SYS(sigaltstack), SCMP_SYS(getpid), SCMP_SYS(gettid)});
  f.allowIf(SCMP_SYS(tgkill), SCMP_A0(SCMP_CMP_EQ, self));
  f.allowIf(SCMP_SYS(kill), SCMP_A0(SCMP_CMP_EQ, self));
  // The C and C++ runtimes: locks, time, randomness, limits and memory figures they look up.
  f.allow({SCMP_SYS(futex), SCMP_SYS(clock_gettime), SCMP_SYS(clock_getres), SCMP_SYS(gettimeofday),
           SCMP_SYS(nanosleep), SCMP_SYS(clock_nanosleep), SCMP_SYS(getrandom),
           SCMP_SYS(sched_yield), SCMP_SYS(sysinfo), SCMP_SYS(uname), SCMP_SYS(exit),
           SCMP_SYS(exit_group)});
  f.allowIf(SCMP_SYS(prlimit64), SCMP_A2(SCMP_CMP_EQ, 0));  // reading a limit, never setting one
}

void killAttackOnlyCalls(Filter& f) {
  // Running programs.
  f.kill({SCMP_SYS(execve), SCMP_SYS(execveat)});
  // Reaching into other processes, or new processes (threads only fail: see clone below).
  f.kill({SCMP_SYS(process_vm_readv), SCMP_SYS(process_vm_writev), SCMP_SYS(pidfd_getfd),
          SCMP_SYS(process_madvise), SCMP_SYS(fork), SCMP_SYS(vfork)});
  // The network and local sockets.
  f.kill({SCMP_SYS(socket), SCMP_SYS(socketpair), SCMP_SYS(connect), SCMP_SYS(bind),
          SCMP_SYS(listen), SCMP_SYS(accept), SCMP_SYS(accept4)});
  // Mounts and name spaces, the usual first steps out of a sandbox.
  f.kill({SCMP_SYS(mount), SCMP_SYS(umount2), SCMP_SYS(pivot_root), SCMP_SYS(chroot),
          SCMP_SYS(setns), SCMP_SYS(unshare), SCMP_SYS(open_by_handle_at)});
  // Kernel attack surface no renderer touches: BPF, modules, kexec, perf, userfaultfd, io_uring
  // (which would also run calls past this filter), keyrings.
  f.kill({SCMP_SYS(bpf), SCMP_SYS(init_module), SCMP_SYS(finit_module), SCMP_SYS(delete_module),
          SCMP_SYS(kexec_load), SCMP_SYS(kexec_file_load), SCMP_SYS(perf_event_open),
          SCMP_SYS(userfaultfd), SCMP_SYS(io_uring_setup), SCMP_SYS(keyctl), SCMP_SYS(add_key),
          SCMP_SYS(request_key)});
#ifdef KFP_SANITIZED
  // Sanitizer builds only: the leak check at exit stops the process under a tracer task of its own
  // (clone, ptrace, waiting on it), and the checks of pointers probe memory through a pipe.
  f.allow({SCMP_SYS(clone), SCMP_SYS(ptrace), SCMP_SYS(wait4), SCMP_SYS(prctl),
           SCMP_SYS(sched_getaffinity), SCMP_SYS(getppid), SCMP_SYS(pipe), SCMP_SYS(pipe2),
           SCMP_SYS(getdents)});
#else
  f.kill({SCMP_SYS(ptrace)});
  // clone makes a process unless it makes a thread of this one.
  f.killIf(SCMP_SYS(clone), SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, 0));
#endif
  // clone3 hides its flags from the filter; the C library falls back to clone on ENOSYS.
  f.fail(SCMP_SYS(clone3), ENOSYS);
}

}  // namespace

bool restrictSystemCalls() {
  Filter filter;
  if (!filter.valid() ||
      seccomp_attr_set(filter.get(), SCMP_FLTATR_ACT_BADARCH, SCMP_ACT_KILL_PROCESS) != 0) {
    return false;
  }
  allowTheRenderersCalls(filter);
  killAttackOnlyCalls(filter);
  return filter.valid() && seccomp_load(filter.get()) == 0;
}

}  // namespace kfp::confine
