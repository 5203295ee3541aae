// Start-up cost of the renderer: spawn to HelloAck (process start, backend initialisation and the
// installed-font index), beside a baseline of the same round trip through `cat` in the same run,
// and the renderer's idle memory once it has answered; then the confinement's share of it, through
// the test twin started confined and not.

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "kfp_client.h"
#include "platform/linux/confine/confinement.h"
#include "platform/linux/linux_backend.h"
#include "protocol/message_types.h"

namespace {

using namespace kfp;
using namespace kfp::client;
using Clock = std::chrono::steady_clock;

constexpr int kRounds = 25;
constexpr Milliseconds kTimeout{30000};

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

uint64_t anonymousKiB(pid_t pid) {
  std::ifstream statm("/proc/" + std::to_string(pid) + "/statm");
  uint64_t size = 0, resident = 0, shared = 0;
  statm >> size >> resident >> shared;
  return (resident - shared) * uint64_t(sysconf(_SC_PAGESIZE)) / 1024;
}

// Milliseconds from spawn to the first reply frame of type `replyType`; negative on failure.
double spawnToReply(const std::string& path, uint8_t replyType, uint64_t* idleKiB) {
  const auto start = Clock::now();
  auto started = RendererProcess::spawn(path, {});
  if (!started) {
    std::fprintf(stderr, "cannot start %s: %s\n", path.c_str(), started.error().describe().c_str());
    return -1;
  }
  auto process = std::move(started).value();
  Frame reply;
  if (!process->writeFrame(kHello, "{\"protocolVersion\":1}") ||
      process->readFrame(reply, kTimeout) != ReadStatus::kFrame || reply.type != replyType) {
    std::fprintf(stderr, "no reply from %s\n", path.c_str());
    return -1;
  }
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  if (idleKiB) *idleKiB = anonymousKiB(process->pid());
  process->closeInput();
  process->waitForExit(kTimeout);
  return ms;
}

// Microseconds that the confinement itself takes (finding what stays readable, then the layers),
// timed in a child since confinement is for good; negative on failure. The layers applied go to
// `layers`.
double confinementMicroseconds(std::string* layers) {
  int channel[2];
  if (pipe(channel) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    const auto backend = createLinuxBackend();
    if (!backend->createTextEngine()) _exit(1);
    const auto start = Clock::now();
    const confine::ConfinementLayers applied = confine::confineProcess(loadedFontPaths(*backend));
    const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    const std::string text = std::to_string(us) + " " + confine::describe(applied);
    (void)!write(channel[1], text.data(), text.size());
    _exit(0);
  }
  close(channel[1]);
  char buffer[256];
  const ssize_t n = child > 0 ? read(channel[0], buffer, sizeof buffer - 1) : -1;
  close(channel[0]);
  if (child > 0) waitpid(child, nullptr, 0);
  if (n <= 0) return -1;
  buffer[n] = 0;
  char* rest = nullptr;
  const double us = std::strtod(buffer, &rest);
  *layers = rest + 1;
  return us;
}

}  // namespace

int main() {
  std::vector<double> renderer, baseline;
  uint64_t idleKiB = 0;
  for (int i = 0; i < kRounds; ++i) {
    const double r = spawnToReply(KFP_RENDERER_PATH, kHelloAck, &idleKiB);
    const double b = spawnToReply("/bin/cat", kHello, nullptr);
    if (r < 0 || b < 0) return 1;
    renderer.push_back(r);
    baseline.push_back(b);
  }
  const double r = median(renderer), b = median(baseline);
  std::printf("spawn to HelloAck: median %.2f ms (cat echo baseline %.2f ms, ratio %.1fx)\n", r, b,
              r / b);
  std::printf("idle anonymous memory after HelloAck: %.1f MiB\n", idleKiB / 1024.0);

  std::vector<double> confined, unconfined;
  for (int i = 0; i < kRounds; ++i) {
    // Which goes first alternates, so that neither always follows the other's exit.
    double figures[2] = {};
    for (const bool second : {false, true}) {
      const bool confined = (i % 2 == 0) != second;
      if (!confined) setenv("KFP_TEST_CONFINEMENT", "off", 1);
      figures[confined] = spawnToReply(KFP_RENDERER_TESTHOOKS_PATH, kHelloAck, nullptr);
      unsetenv("KFP_TEST_CONFINEMENT");
    }
    if (figures[0] < 0 || figures[1] < 0) return 1;
    confined.push_back(figures[1]);
    unconfined.push_back(figures[0]);
  }
  std::vector<double> confining;
  std::string layers;
  for (int i = 0; i < 9; ++i) {
    const double us = confinementMicroseconds(&layers);
    if (us < 0) return 1;
    confining.push_back(us);
  }
  std::printf("confinement itself (%s): median %.0f us\n", layers.c_str(), median(confining));
  const double on = median(confined), off = median(unconfined);
  std::printf(
      "confinement (test twin): spawn to HelloAck median %.2f ms confined, %.2f ms not, "
      "%+.2f ms\n",
      on, off, on - off);
  return 0;
}
