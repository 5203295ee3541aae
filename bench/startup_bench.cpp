// Start-up cost of the renderer: spawn to HelloAck (process start, backend initialisation and the
// installed-font index), beside a baseline of the same round trip through `cat` in the same run,
// and the renderer's idle memory once it has answered.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "kfp_client.h"
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
  return 0;
}
