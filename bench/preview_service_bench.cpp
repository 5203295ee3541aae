// Previews per second for every installed font through the preview service, with one renderer and
// with one per core, beside the bare client driving one renderer in the same run. Each run starts
// fresh renderers, registers the installed fonts and measures them all once (which resolves every
// font, untimed), then times one Render of all of them.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "kfp_client.h"
#include "preview/installed_fonts.h"
#include "preview_service.h"

namespace {

using namespace kfp;
using namespace kfp::client;
using Clock = std::chrono::steady_clock;

constexpr int kRounds = 5;
// Every font is drawn this many times per timed Render, so that a run lasts long enough to time.
constexpr int kRepeats = 8;
constexpr const char* kText = "The quick brown fox jumps over the lazy dog 0123456789";

double seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

LayoutRequest layoutFor(const std::vector<FontDescriptor>& fonts) {
  LayoutRequest request;
  request.requestId = 1;
  request.generation = 1;
  request.text = kText;
  request.fontSize = 28;
  request.width = 300;
  for (int i = 0; i < kRepeats; ++i) {
    for (const auto& font : fonts) request.fontIds.push_back(font.fontId);
  }
  return request;
}

// The bare client: one renderer, one Render for every font. Negative on failure.
double bareClient(const std::vector<FontDescriptor>& fonts) {
  auto client = Client::start({KFP_RENDERER_PATH, {}, Milliseconds(60000)}).valueOr(nullptr);
  Frame ack;
  if (!client || !client->hello() || client->receive(ack) != ReadStatus::kFrame) return -1;
  if (!client->registerFontsChunkedAndWait(fonts)) return -1;
  LayoutRequest layout = layoutFor(fonts);
  if (!client->measureAndWait(layout)) return -1;
  ++layout.requestId;
  const auto start = Clock::now();
  auto rendered = client->renderAndWait(layout);
  if (!rendered) return -1;
  const double elapsed = seconds(start);
  client->stop();
  return elapsed;
}

double service(const std::vector<FontDescriptor>& fonts, size_t workers) {
  PreviewServiceOptions options;
  options.rendererPath = KFP_RENDERER_PATH;
  options.workers = workers;
  options.replyTimeout = Milliseconds(60000);
  // Enough Measure batches to start every renderer.
  options.measureBatch = std::max<size_t>(1, fonts.size() / workers / 4);
  PreviewService previews(options);
  previews.setFonts(fonts);
  const LayoutRequest layout = layoutFor(fonts);
  PreviewRequest request;
  request.text = layout.text;
  request.fontSize = layout.fontSize;
  request.width = layout.width;
  request.fontIds = layout.fontIds;
  if (!previews.measure(request)) return -1;
  const auto start = Clock::now();
  // The whole list in request order, kept like the bare client's.
  auto done = previews.render(request);
  if (!done) return -1;
  const double elapsed = seconds(start);
  previews.shutdown();
  return elapsed;
}

}  // namespace

int main() {
  std::vector<preview::InstalledFont> installed;
  std::string error;
  if (!preview::listInstalledFonts(KFP_RENDERER_PATH, installed, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::vector<FontDescriptor> fonts;
  for (auto& font : installed) fonts.push_back(std::move(font.descriptor));
  const size_t cores = std::max(1u, std::thread::hardware_concurrency());

  // Rounds interleave the three configurations so that a load change hits them alike; the best
  // round of each counts.
  double bare = 1e9, one = 1e9, all = 1e9;
  for (int round = 0; round < kRounds; ++round) {
    const double b = bareClient(fonts), s1 = service(fonts, 1), sn = service(fonts, cores);
    if (b < 0 || s1 < 0 || sn < 0) {
      std::fprintf(stderr, "a run failed\n");
      return 1;
    }
    bare = std::min(bare, b), one = std::min(one, s1), all = std::min(all, sn);
  }
  const double n = double(fonts.size()) * kRepeats;
  std::printf(
      "%d previews of each of %zu installed fonts, \"%s\", size 28, width 300, "
      "best of %d\n",
      kRepeats, fonts.size(), kText, kRounds);
  std::printf("  bare client, 1 renderer:       %8.1f previews/s\n", n / bare);
  std::printf("  preview service, 1 renderer:   %8.1f previews/s  (overhead %+.1f %% over bare)\n",
              n / one, (one / bare - 1) * 100);
  std::printf("  preview service, %zu renderers: %8.1f previews/s  (%.2fx one renderer)\n", cores,
              n / all, one / all);
  return 0;
}
