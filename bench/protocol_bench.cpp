// Protocol costs through real pipes: Ping round trips and a 50000-font RegisterFonts, each beside
// a baseline measured in the same run (the same frames echoed by `cat`), so the figures say what
// the renderer adds to the cost of the pipes themselves.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "kfp_client.h"
#include "protocol/message_types.h"

namespace {

using namespace kfp;
using namespace kfp::client;
using Clock = std::chrono::steady_clock;

constexpr int kPingRounds = 20000;
constexpr int kRegisterRounds = 7;
constexpr size_t kFontCount = 50000;
constexpr Milliseconds kTimeout{30000};

struct Stats {
  double median = 0;
  double p99 = 0;
};

Stats statsOf(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return {samples[samples.size() / 2], samples[samples.size() * 99 / 100]};
}

double microsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// One frame out, one frame back; `replyType` is what the peer answers (cat echoes the request).
bool roundTrip(RendererProcess& peer, uint8_t type, const std::string& json, uint8_t replyType,
               Frame& reply) {
  if (!peer.writeFrame(type, json)) {
    std::fprintf(stderr, "cannot write a frame of %zu bytes\n", json.size());
    return false;
  }
  const ReadStatus status = peer.readFrame(reply, kTimeout);
  if (status == ReadStatus::kFrame && reply.type == replyType) return true;
  std::fprintf(
      stderr, "unexpected reply: %s\n",
      status == ReadStatus::kFrame ? describeFrame(reply).c_str() : readStatusName(status));
  return false;
}

bool timeRoundTrips(RendererProcess& peer, uint8_t type, const std::string& json, uint8_t replyType,
                    int rounds, std::vector<double>& samples) {
  Frame reply;
  for (int i = 0; i < rounds / 10; ++i) {  // warm-up
    if (!roundTrip(peer, type, json, replyType, reply)) return false;
  }
  for (int i = 0; i < rounds; ++i) {
    const auto start = Clock::now();
    if (!roundTrip(peer, type, json, replyType, reply)) return false;
    samples.push_back(microsSince(start));
  }
  return true;
}

std::vector<FontDescriptor> manyFonts(size_t count) {
  const char* kStyles[] = {"Regular", "Bold", "Italic", "Bold Italic", "Light", "Condensed"};
  std::vector<FontDescriptor> fonts(count);
  for (size_t i = 0; i < count; ++i) {
    auto& font = fonts[i];
    const std::string family = "Family " + std::to_string(i / 6);
    font.fontId = "font-" + std::to_string(i);
    font.familyName = family;
    font.styleName = kStyles[i % 6];
    font.fullName = family + " " + font.styleName;
    font.postScriptName = "Family" + std::to_string(i / 6) + "-" + std::to_string(i % 6);
  }
  return fonts;
}

std::unique_ptr<RendererProcess> start(const std::string& path) {
  auto process = RendererProcess::spawn(path, {});
  if (!process) {
    std::fprintf(stderr, "cannot start %s: %s\n", path.c_str(), process.error().describe().c_str());
    return nullptr;
  }
  return std::move(process).value();
}

void report(const char* what, const Stats& renderer, const Stats& baseline, const char* target) {
  std::printf("%-34s median %9.1f us  p99 %9.1f us   (%s)\n", what, renderer.median, renderer.p99,
              target);
  std::printf("%-34s median %9.1f us  p99 %9.1f us\n", "  baseline: cat echo", baseline.median,
              baseline.p99);
  std::printf("%-34s median x%.2f  p99 x%.2f\n", "  ratio to baseline",
              renderer.median / baseline.median, renderer.p99 / baseline.p99);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string rendererPath = argc > 1 ? argv[1] : KFP_RENDERER_PATH;
  auto renderer = start(rendererPath);
  auto cat = start("/bin/cat");
  if (!renderer || !cat) return 1;

  std::vector<double> pingRenderer, pingCat;
  if (!timeRoundTrips(*renderer, kPing, "{}", kPong, kPingRounds, pingRenderer) ||
      !timeRoundTrips(*cat, kPing, "{}", kPing, kPingRounds, pingCat)) {
    std::fprintf(stderr, "ping round trip failed\n");
    return 1;
  }
  std::printf("Ping round trip, %d rounds\n", kPingRounds);
  report("  renderer: Ping -> Pong", statsOf(pingRenderer), statsOf(pingCat), "target < 20 us");

  const std::string fontsJson = fontListJson(manyFonts(kFontCount));
  std::vector<double> registerRenderer, registerCat;
  if (!timeRoundTrips(*renderer, kRegisterFonts, fontsJson, kFontsRegistered, kRegisterRounds,
                      registerRenderer) ||
      !timeRoundTrips(*cat, kRegisterFonts, fontsJson, kRegisterFonts, kRegisterRounds,
                      registerCat)) {
    std::fprintf(stderr, "RegisterFonts round trip failed\n");
    return 1;
  }
  std::printf("\nRegisterFonts of %zu descriptors (%.2f MiB JSON), %d rounds\n", kFontCount,
              fontsJson.size() / 1048576.0, kRegisterRounds);
  const Stats registerStats = statsOf(registerRenderer);
  report("  renderer: -> FontsRegistered", registerStats, statsOf(registerCat),
         "target < 100000 us");

  renderer->writeFrame(kShutdown, "{}");
  renderer->closeInput();
  cat->closeInput();
  const ProcessExit exit = renderer->waitForExit(Milliseconds(5000));
  if (!exit.exitedWith(0)) std::fprintf(stderr, "renderer: %s\n", exit.describe().c_str());
  return exit.exitedWith(0) ? 0 : 1;
}
