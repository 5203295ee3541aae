#include "platform/linux/confine/confinement_probe.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace kfp::confine {
namespace {

// 0 when the operation was allowed, else the errno it failed with.
int attempt(const std::string& operation) {
  const size_t colon = operation.find(':');
  const std::string verb = operation.substr(0, colon);
  const std::string argument = colon == std::string::npos ? "" : operation.substr(colon + 1);
  const auto result = [](bool ok) { return ok ? 0 : errno; };
  if (verb == "read") {
    const int fd = open(argument.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    char byte;
    const bool ok = read(fd, &byte, 1) == 1;
    close(fd);
    return result(ok);
  }
  if (verb == "create" || verb == "write") {
    const int flags = verb == "create" ? O_WRONLY | O_CREAT | O_EXCL : O_WRONLY;
    const int fd = open(argument.c_str(), flags | O_CLOEXEC, 0600);
    if (fd < 0) return errno;
    const bool ok = write(fd, "x", 1) == 1;
    close(fd);
    return result(ok);
  }
  if (verb == "truncate") return result(truncate(argument.c_str(), 0) == 0);
  if (verb == "socket") {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd >= 0) close(fd);
    return result(fd >= 0);
  }
  if (verb == "connect") {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return errno;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(std::atoi(argument.c_str())));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    const int error = errno;
    close(fd);
    return ok ? 0 : error;
  }
  if (verb == "execve") {
    char* const args[] = {const_cast<char*>(argument.c_str()), nullptr};
    execve(argument.c_str(), args, environ);
    return errno;
  }
  if (verb == "ptrace") return result(ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) == 0);
  if (verb == "fork") {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    if (child < 0) return errno;
    waitpid(child, nullptr, 0);
    return 0;
  }
  if (verb == "thread") {
    pthread_t thread;
    const int error = pthread_create(
        &thread, nullptr, [](void*) -> void* { return nullptr; }, nullptr);
    if (error == 0) pthread_join(thread, nullptr);
    return error;
  }
  if (verb == "signal") return result(kill(pid_t(std::atoi(argument.c_str())), 0) == 0);
  if (verb == "exec-memory") {
    void* page = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (page == MAP_FAILED) return errno;
    const bool ok = mprotect(page, 4096, PROT_READ | PROT_EXEC) == 0;
    const int error = errno;
    munmap(page, 4096);
    return ok ? 0 : error;
  }
  return EINVAL;
}

void writeLine(int fd, const std::string& line) {
  const std::string text = line + "\n";
  (void)!write(fd, text.data(), text.size());
}

}  // namespace

bool confinementSwitchedOff() {
  const char* value = std::getenv("KFP_TEST_CONFINEMENT");
  return value && std::strcmp(value, "off") == 0;
}

void runConfinementProbe(int reportFd, const ConfinementLayers& layers) {
  const char* operation = std::getenv("KFP_TEST_CONFINEMENT_PROBE");
  if (!operation || reportFd < 0) return;
  writeLine(reportFd, "layers: " + describe(layers));
  const int error = attempt(operation);
  const char* name = strerrorname_np(error);
  writeLine(reportFd, std::string("probe ") + operation + ": " +
                          (error == 0 ? "allowed" : std::string("refused ") + (name ? name : "?")));
}

}  // namespace kfp::confine
