// kest-font-preview-renderer on POSIX systems: the process entry and the standard streams.

#include <fcntl.h>
#include <poll.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>

#include "host/command_line.h"
#include "host/message_loop.h"
#include "platform/linux/confine/confinement.h"
#include "platform/linux/linux_backend.h"
#include "protocol/byte_stream.h"
#ifdef KFP_TEST_HOOKS
#include "platform/linux/confine/confinement_probe.h"
#endif

namespace kfp {
namespace {

// Bitmaps of a Render leave in one frame each; a pipe that holds several of them lets the renderer
// draw the next font while the host is still reading.
constexpr int kPipeBytes = 1 << 20;

// Waits until `fd` is ready for `events`. A descriptor the host made non-blocking reports EAGAIN
// where a blocking one would wait; the frame stream must not tell the two apart.
void awaitReady(int fd, short events) {
  pollfd entry{fd, events, 0};
  while (poll(&entry, 1, -1) < 0 && errno == EINTR) {
  }
}

bool mustWait(ssize_t result) {
  return result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
}

class FdReader : public ByteReader {
 public:
  explicit FdReader(int fd) : fd_(fd) {}
  ptrdiff_t read(void* buffer, size_t count) override {
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, count);
      if (n < 0 && errno == EINTR) continue;
      if (mustWait(n)) {
        awaitReady(fd_, POLLIN);
        continue;
      }
      return n;
    }
  }

 private:
  int fd_;
};

// A closed pipe is a failed write: SIGPIPE is ignored by the process.
class FdWriter : public ByteWriter {
 public:
  explicit FdWriter(int fd) : fd_(fd) {}
  ptrdiff_t write(const void* buffer, size_t count) override {
    for (;;) {
      const ssize_t n = ::write(fd_, buffer, count);
      if (n < 0 && errno == EINTR) continue;
      if (mustWait(n)) {
        awaitReady(fd_, POLLOUT);
        continue;
      }
      return n;
    }
  }
  ptrdiff_t writeGather(const ByteSpan* parts, int count) override {
    iovec vectors[kMaxParts];
    if (count > kMaxParts) count = kMaxParts;
    for (int i = 0; i < count; ++i) vectors[i] = {const_cast<void*>(parts[i].data), parts[i].size};
    for (;;) {
      const ssize_t n = ::writev(fd_, vectors, count);
      if (n < 0 && errno == EINTR) continue;
      if (mustWait(n)) {
        awaitReady(fd_, POLLOUT);
        continue;
      }
      return n;
    }
  }

 private:
  static constexpr int kMaxParts = 8;
  int fd_;
};

// The changed-font protections run on signals: SIGBUS for a read past the end of a shrunk file,
// SIGIO for the file watch. A host may start the renderer with them blocked or ignored (both are
// inherited across exec), which would switch the protections off silently: a fault while SIGBUS is
// blocked kills the process whatever its handler. So they are unblocked and given their default
// dispositions before any font is mapped; SIGIO is ignored until the watch installs its handler,
// since its default action ends the process.
void takeReliedSignals() {
  std::signal(SIGBUS, SIG_DFL);
  std::signal(SIGIO, SIG_IGN);
  sigset_t relied;
  sigemptyset(&relied);
  sigaddset(&relied, SIGBUS);
  sigaddset(&relied, SIGIO);
  sigprocmask(SIG_UNBLOCK, &relied, nullptr);
}

// Frames go to a private duplicate of standard output, and descriptors 1 and 2 are pointed at
// /dev/null: nothing a library prints (fontconfig's FC_DEBUG text goes to standard output) can land
// between two frames or on standard error. Sanitizer builds keep standard error for their reports.
// -1 when no duplicate can be made.
int takeFrameOutput() {
  const int frames = fcntl(1, F_DUPFD_CLOEXEC, 3);
  if (frames < 0) return -1;
  const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null >= 0) {
    dup2(null, 1);
#ifndef KFP_SANITIZED
    dup2(null, 2);
#endif
    if (null > 2) close(null);
  }
  return frames;
}

}  // namespace
}  // namespace kfp

int main(int argc, char** argv) {
  std::string argumentText;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) argumentText.push_back(' ');
    argumentText += argv[i];
  }
  if (kfp::isVersionRequest(argumentText)) {
    kfp::FdWriter out(1);
    kfp::writeVersionLine(out);
    return kfp::kExitOk;
  }
  if (kfp::isListFontsRequest(argumentText)) {
    kfp::FdWriter out(1);
    return kfp::writeInstalledFontList(*kfp::createLinuxBackend(), out);
  }
  std::signal(SIGPIPE, SIG_IGN);
  kfp::takeReliedSignals();
  if (fcntl(0, F_GETFD) < 0 || fcntl(1, F_GETFD) < 0) return kfp::kExitBadHandles;
#ifdef KFP_TEST_HOOKS
  // The probe's report goes to the standard error the host gave, which frames never use.
  const int probeReportFd = fcntl(2, F_DUPFD_CLOEXEC, 3);
#endif
  const int framesFd = kfp::takeFrameOutput();
  if (framesFd < 0) return kfp::kExitBadHandles;
#ifdef F_SETPIPE_SZ
  // Not a pipe, or no room: no harm.
  fcntl(framesFd, F_SETPIPE_SZ, kfp::kPipeBytes);
  fcntl(0, F_SETPIPE_SZ, kfp::kPipeBytes);
#endif
  kfp::FdReader in(0);
  kfp::FdWriter out(framesFd);
  const auto backend = kfp::createLinuxBackend();
  // Once the font index is built and before the first frame: from here on the process reads
  // fonts and its open descriptors, and nothing else.
  const auto confine = [&] {
    backend->privateBytes();  // opens /proc/self/statm while that is still allowed
#ifdef KFP_TEST_HOOKS
    kfp::confine::ConfinementLayers layers;
    if (!kfp::confine::confinementSwitchedOff()) {
      layers = kfp::confine::confineProcess(kfp::loadedFontPaths(*backend));
    }
    kfp::confine::runConfinementProbe(probeReportFd, layers);
#else
    kfp::confine::confineProcess(kfp::loadedFontPaths(*backend));
#endif
  };
#ifdef KFP_SANITIZED
  // Sanitizer builds release everything, so that the leak check sees a clean exit.
  return kfp::runMessageLoop(*backend, in, out, kfp::LoopEnd::kReturn, confine);
#else
  return kfp::runMessageLoop(*backend, in, out, kfp::LoopEnd::kExitAtOnce, confine);
#endif
}
