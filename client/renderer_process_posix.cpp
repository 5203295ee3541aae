#include "renderer_process.h"

// The POSIX process code: posix_spawn, pipes, poll and waitpid.

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "protocol/frame.h"

extern char** environ;

namespace kfp::client {
namespace {

using Clock = std::chrono::steady_clock;

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

int remainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<Milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left > 60000 ? 60000 : static_cast<int>(left);
}

// writev with SIGPIPE blocked on this thread only, so that a renderer that went away is an EPIPE
// for the caller and the host's signal dispositions stay as the host set them. A SIGPIPE this
// write raised is consumed before the mask is restored; one that was already pending is left.
ssize_t writeWithoutSigpipe(int fd, const iovec* parts, int count) {
  sigset_t pipeOnly, previous, pending;
  sigemptyset(&pipeOnly);
  sigaddset(&pipeOnly, SIGPIPE);
  sigemptyset(&pending);
  sigpending(&pending);
  const bool alreadyPending = sigismember(&pending, SIGPIPE) == 1;
  pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);
  const ssize_t n = ::writev(fd, parts, count);
  const int code = errno;
  if (n < 0 && code == EPIPE && !alreadyPending) {
    const timespec now = {0, 0};
    while (sigtimedwait(&pipeOnly, nullptr, &now) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  errno = code;
  return n;
}

ProcessExit exitFromStatus(int status) {
  if (WIFEXITED(status)) return {ProcessExit::Kind::kExited, WEXITSTATUS(status)};
  return {ProcessExit::Kind::kSignaled, WTERMSIG(status)};
}

}  // namespace

std::string ProcessExit::describe() const {
  switch (kind) {
    case Kind::kRunning:
      return "still running";
    case Kind::kExited:
      return "exit code " + std::to_string(value);
    case Kind::kSignaled:
      return std::string("killed by signal ") + strsignal(value);
  }
  return "?";
}

Outcome<std::unique_ptr<RendererProcess>> RendererProcess::spawn(
    const std::string& path, const std::vector<std::string>& args) {
  auto fail = [&](const char* what, int code) -> Outcome<std::unique_ptr<RendererProcess>> {
    return Error(ErrorKind::kStartFailed, codes::kStartFailed,
                 std::string(what) + ": " + std::strerror(code));
  };

  int inPipe[2], outPipe[2], errPipe[2];
  if (::pipe2(inPipe, O_CLOEXEC) != 0) return fail("pipe", errno);
  if (::pipe2(outPipe, O_CLOEXEC) != 0) {
    const int code = errno;
    ::close(inPipe[0]), ::close(inPipe[1]);
    return fail("pipe", code);
  }
  if (::pipe2(errPipe, O_CLOEXEC) != 0) {
    const int code = errno;
    ::close(inPipe[0]), ::close(inPipe[1]), ::close(outPipe[0]), ::close(outPipe[1]);
    return fail("pipe", code);
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // dup2 clears close-on-exec on the target, so only 0, 1 and 2 reach the child.
  posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);

  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults, empty;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigemptyset(&empty);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &empty);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  pid_t pid = -1;
  const int code = posix_spawn(&pid, path.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(inPipe[0]);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  if (code != 0) {
    ::close(inPipe[1]), ::close(outPipe[0]), ::close(errPipe[0]);
    return fail(path.c_str(), code);
  }

  std::unique_ptr<RendererProcess> process(new RendererProcess());
  process->pid_ = pid;
  process->inFd_ = inPipe[1];
  process->outFd_ = outPipe[0];
  process->errFd_ = errPipe[0];
  for (int fd : {process->inFd_, process->outFd_, process->errFd_}) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  }
  return process;
}

RendererProcess::~RendererProcess() {
  closeFd(inFd_);
  closeFd(outFd_);
  closeFd(errFd_);
  if (exit_.kind == ProcessExit::Kind::kRunning && pid_ > 0) kill();
}

ptrdiff_t RendererProcess::writeSome(const void* const* data, const size_t* sizes, int count,
                                     Clock::time_point deadline) {
  iovec parts[3];
  int used = 0;
  size_t total = 0;
  for (int i = 0; i < count && used < 3; ++i) {
    if (sizes[i] == 0) continue;
    parts[used++] = {const_cast<void*>(data[i]), sizes[i]};
    total += sizes[i];
  }
  if (total == 0) return 0;
  for (;;) {
    if (inFd_ < 0) return -1;
    const ssize_t n = writeWithoutSigpipe(inFd_, parts, used);
    if (n > 0) return n;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return -1;
    // The pipe is full. The child may be blocked writing replies to earlier requests, so read
    // those into the buffer meanwhile, and keep its stderr from filling too.
    pollfd fds[3] = {
        {inFd_, POLLOUT, 0}, {outputEnded_ ? -1 : outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
    const int waitMs = remainingMs(deadline);
    if (waitMs == 0) return -1;
    if (::poll(fds, 3, waitMs) < 0 && errno != EINTR) return -1;
    if (fds[1].revents & (POLLIN | POLLHUP)) readSomeOutput(0);
    if (fds[2].revents & (POLLIN | POLLHUP)) drainStderr(0);
  }
}

void RendererProcess::closeInput() {
  closeFd(inFd_);
}

void RendererProcess::closeOutput() {
  closeFd(outFd_);
}

bool RendererProcess::outputOpen() const {
  return outFd_ >= 0;
}

bool RendererProcess::readSomeOutput(size_t wanted) {
  if (outFd_ < 0 || outputEnded_) return false;
  if (outputStart_ > 0 && outputStart_ * 2 >= output_.size()) {
    output_.erase(output_.begin(), output_.begin() + static_cast<ptrdiff_t>(outputStart_));
    outputStart_ = 0;
  }
  // A large frame whose header has arrived is taken in one read rather than in 64 KiB steps.
  const size_t step = std::max<size_t>(65536, wanted);
  for (;;) {
    const size_t used = output_.size();
    output_.resize(used + step);
    const ssize_t n = ::read(outFd_, output_.data() + used, step);
    output_.resize(used + (n > 0 ? static_cast<size_t>(n) : 0));
    if (n > 0) return true;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return false;
    outputEnded_ = true;  // end of stream, or a read error that ends it just as well
    return true;
  }
}

bool RendererProcess::fillOutput(Clock::time_point deadline, size_t wanted) {
  for (;;) {
    if (readSomeOutput(wanted)) return true;
    pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
    const int waitMs = remainingMs(deadline);
    if (waitMs == 0) return false;
    if (::poll(fds, 2, waitMs) < 0 && errno != EINTR) return false;
    if (fds[1].revents & (POLLIN | POLLHUP)) drainStderr(0);
  }
}

void RendererProcess::drainStderr(int waitMs) {
  if (errFd_ < 0) return;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(errFd_, buffer, sizeof buffer);
    if (n > 0) {
      const size_t room = kStderrKept - std::min(kStderrKept, stderr_.size());
      stderr_.append(buffer, std::min(room, static_cast<size_t>(n)));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN && waitMs > 0) {
      pollfd fd = {errFd_, POLLIN, 0};
      if (::poll(&fd, 1, waitMs) > 0) continue;
      return;
    }
    if (n == 0 || errno != EAGAIN) closeFd(errFd_);
    return;
  }
}

ProcessExit RendererProcess::waitForExit(Milliseconds timeout) {
  if (exit_.kind != ProcessExit::Kind::kRunning) return exit_;
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      exit_ = exitFromStatus(status);
      // The child's end of stderr is closed now; whatever it wrote is in the pipe.
      drainStderr(0);
      return exit_;
    }
    const int waitMs = remainingMs(deadline);
    if (waitMs == 0) return exit_;
    // Sleeping in poll on stderr both paces the loop and keeps that pipe from filling.
    if (errFd_ >= 0) {
      drainStderr(waitMs < 5 ? waitMs : 5);
    } else {
      ::usleep(2000);
    }
  }
}

ProcessExit RendererProcess::kill() {
  if (exit_.kind == ProcessExit::Kind::kRunning && pid_ > 0) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    exit_ = exitFromStatus(status);
  }
  return exit_;
}

size_t RendererProcess::outputHighWater() {
  return heldOutputHighWater_;
}

const std::string& RendererProcess::stderrText() {
  drainStderr(0);
  return stderr_;
}

}  // namespace kfp::client
