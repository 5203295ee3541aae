// Starts a program with the process state a careless host may leave to its children: signals
// blocked or ignored, standard streams in non-blocking mode. The client's own spawn resets the
// signal state, so the tests that need it start the renderer through this program, which execs the
// renderer in place (same pid) after setting the state up.
//
//   inherited_state_launcher [--block=SIG] [--ignore=SIG] [--nonblock=FD] ... -- program [args]
//
// SIG is a name without the prefix (BUS, IO, ...). Exits 127 when the program cannot be started.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

int signalNamed(std::string_view name) {
  struct Named {
    const char* name;
    int number;
  };
  static constexpr Named kSignals[] = {
      {"BUS", SIGBUS}, {"IO", SIGIO}, {"PIPE", SIGPIPE}, {"SEGV", SIGSEGV}, {"SYS", SIGSYS}};
  for (const Named& s : kSignals) {
    if (name == s.name) return s.number;
  }
  return -1;
}

bool applyOption(std::string_view option) {
  const auto valueOf = [&](std::string_view prefix) -> std::string_view {
    return option.substr(0, prefix.size()) == prefix ? option.substr(prefix.size())
                                                     : std::string_view();
  };
  if (const auto name = valueOf("--block="); !name.empty()) {
    sigset_t set;
    sigemptyset(&set);
    const int number = signalNamed(name);
    if (number < 0) return false;
    sigaddset(&set, number);
    return sigprocmask(SIG_BLOCK, &set, nullptr) == 0;
  }
  if (const auto name = valueOf("--ignore="); !name.empty()) {
    const int number = signalNamed(name);
    return number > 0 && signal(number, SIG_IGN) != SIG_ERR;
  }
  if (const auto fd = valueOf("--nonblock="); !fd.empty()) {
    const int number = std::atoi(std::string(fd).c_str());
    const int flags = fcntl(number, F_GETFL);
    return flags >= 0 && fcntl(number, F_SETFL, flags | O_NONBLOCK) == 0;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  int i = 1;
  for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (!applyOption(argv[i])) {
      std::fprintf(stderr, "inherited_state_launcher: bad option %s\n", argv[i]);
      return 127;
    }
  }
  if (i + 1 >= argc) {
    std::fprintf(stderr, "inherited_state_launcher: no program after --\n");
    return 127;
  }
  execv(argv[i + 1], argv + i + 1);
  std::perror("inherited_state_launcher: execv");
  return 127;
}
