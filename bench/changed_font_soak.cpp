// A soak of font files rewritten in place while renders stream: copies of a few installed fonts in
// a temporary directory under a private fontconfig configuration; one thread rewrites them over
// and over (mostly cp of another font over it; truncation, append, bytes overwritten), never
// renaming, while the main thread sends Render requests with changing texts, clearing the cache
// every other request so that the changed files are opened and shaped again. Prints the renders,
// per-font errors, file changes and renderer deaths (restarting after each); the figure that
// matters is deaths: 0. The error rate is set beside the renders of the same run that had no change
// in flight.
//
//   changed_font_soak [seconds [renderer]]   (default 600 s, the renderer built here)

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "kfp_client.h"
#include "protocol/message_types.h"
#include "support/fontconfig_file.h"

namespace kfp {
namespace {

namespace fs = std::filesystem;
using client::Client;
using client::FontDescriptor;
using client::Frame;
using client::LayoutRequest;
using Clock = std::chrono::steady_clock;

const char* const kSources[] = {
    "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf",
    "/usr/share/fonts/truetype/noto/NotoSansArabic-Regular.ttf",
    "/usr/share/fonts/truetype/noto/NotoSansDevanagari-Regular.ttf",
};
constexpr size_t kFiles = 4;
const char* const kTexts[] = {"Hamburgefonstiv", "The quick brown fox 0123",
                              "\xd8\xb3\xd9\x84\xd8\xa7\xd9\x85 abc",
                              "\xe0\xa4\xa8\xe0\xa4\xae\xe0\xa4\xb8\xe0\xa5\x8d\xe0\xa4\xa4\xe0\xa5"
                              "\x87 xyz"};

std::string readFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// In place, as cp does: same inode, truncated, then written.
void writeInPlace(const fs::path& file, const std::string& bytes) {
  const int fd = open(file.c_str(), O_WRONLY | O_TRUNC);
  if (fd < 0) return;
  for (size_t at = 0; at < bytes.size();) {
    const ssize_t n = write(fd, bytes.data() + at, std::min<size_t>(65536, bytes.size() - at));
    if (n <= 0) break;
    at += size_t(n);
  }
  close(fd);
}

std::string rendererPath = KFP_RENDERER_PATH;

std::unique_ptr<Client> startRenderer(size_t files) {
  auto renderer =
      Client::start({.rendererPath = rendererPath, .replyTimeout = client::Milliseconds(20000)})
          .valueOr(nullptr);
  Frame frame;
  if (!renderer || !renderer->hello() || renderer->receive(frame) != client::ReadStatus::kFrame) {
    return nullptr;
  }
  std::vector<FontDescriptor> fonts;
  // Registered by the family names the copies have in their name tables.
  const char* const families[] = {"DejaVu Sans", "DejaVu Sans", "DejaVu Serif", "Noto Sans Arabic",
                                  "Noto Sans Devanagari"};
  for (size_t i = 0; i < files && i < std::size(families); ++i) {
    fonts.push_back({.fontId = std::to_string(i), .familyName = families[i]});
  }
  return renderer->registerFontsAndWait(fonts) ? std::move(renderer) : nullptr;
}

int run(double seconds) {
  std::vector<std::string> sources;
  for (const char* source : kSources) {
    if (!fs::exists(source)) {
      std::printf("missing %s\n", source);
      return 1;
    }
    sources.push_back(readFile(source));
  }
  char pattern[] = "/tmp/kfp_soak_XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const fs::path directory = pattern;
  fs::create_directories(directory / "fonts");
  std::vector<fs::path> files;
  for (size_t i = 0; i < kFiles; ++i) {
    files.push_back(directory / "fonts" / ("font" + std::to_string(i) + ".ttf"));
    std::ofstream(files.back(), std::ios::binary) << sources[i];
  }
  test::writeFontconfigFile(directory / "fonts.conf", directory / "fonts", directory / "cache");
  setenv("FONTCONFIG_FILE", (directory / "fonts.conf").c_str(), 1);

  std::atomic<bool> stop{false};
  std::atomic<uint64_t> changes{0};
  std::atomic<uint64_t> quiet{0};  // bumped before and after each change: odd while one is made
  std::thread writer([&] {
    std::mt19937 random(7);
    while (!stop.load()) {
      const fs::path& file = files[random() % files.size()];
      // Back to a font the index knows half of the time, so that fonts keep resolving.
      const std::string& other = sources[random() % sources.size()];
      quiet.fetch_add(1);
      // Mostly whole fonts, so that the faces keep resolving and shaping while they change.
      switch (random() % 10) {
        case 0:
          (void)truncate(file.c_str(), off_t(random() % 65536));
          break;
        case 1:
          std::ofstream(file, std::ios::binary | std::ios::app) << std::string(4096, 'x');
          break;
        case 2: {
          std::string bytes = readFile(file.c_str());
          for (size_t i = 0; i < bytes.size(); i += 97) bytes[i] = char(random());
          writeInPlace(file, bytes);
          break;
        }
        default:
          writeInPlace(file, other);
      }
      quiet.fetch_add(1);
      changes.fetch_add(1);
      std::this_thread::sleep_for(std::chrono::microseconds(200 + random() % 1000));
    }
  });

  uint64_t renders = 0, errors = 0, deaths = 0, quietRenders = 0, quietErrors = 0, requests = 0;
  std::unique_ptr<Client> renderer;
  const auto start = Clock::now();
  uint64_t generation = 0;
  while (std::chrono::duration<double>(Clock::now() - start).count() < seconds) {
    if (!renderer) {
      renderer = startRenderer(kFiles);
      if (!renderer) continue;
    }
    LayoutRequest request;
    request.generation = ++generation;
    for (int repeat = 0; repeat < 8; ++repeat)
      request.text += kTexts[(requests + repeat) % std::size(kTexts)];
    request.text += std::to_string(requests % 50);
    for (size_t i = 0; i < kFiles; ++i) request.fontIds.push_back(std::to_string(i));
    const uint64_t before = quiet.load();
    const auto rendered = renderer->renderAndWait(request);
    const bool calm = before % 2 == 0 && quiet.load() == before;
    ++requests;
    if (!rendered) {
      ++deaths;
      std::printf("renderer lost after %llu requests: %s (%s)\n",
                  static_cast<unsigned long long>(requests), rendered.error().describe().c_str(),
                  renderer->stop().describe().c_str());
      renderer.reset();
      continue;
    }
    for (const auto& result : *rendered) {
      ++renders;
      errors += !result.resolved;
      quietRenders += calm;
      quietErrors += calm && !result.resolved;
    }
    if (requests % 2 == 0 && !renderer->clearCache()) renderer.reset();
  }
  stop.store(true);
  writer.join();
  if (renderer) renderer->stop();
  fs::remove_all(directory);
  std::printf(
      "%.0f s: %llu requests, %llu renders, %llu per-font errors (%.1f %%), %llu file "
      "changes, %llu renderer deaths\n",
      seconds, static_cast<unsigned long long>(requests), static_cast<unsigned long long>(renders),
      static_cast<unsigned long long>(errors),
      renders ? 100.0 * double(errors) / double(renders) : 0.0,
      static_cast<unsigned long long>(changes.load()), static_cast<unsigned long long>(deaths));
  std::printf(
      "baseline, renders with no change in flight: %llu, errors %llu (files left broken "
      "by earlier changes)\n",
      static_cast<unsigned long long>(quietRenders), static_cast<unsigned long long>(quietErrors));
  return deaths == 0 ? 0 : 1;
}

}  // namespace
}  // namespace kfp

int main(int argc, char** argv) {
  if (argc > 2) kfp::rendererPath = argv[2];
  return kfp::run(argc > 1 ? std::strtod(argv[1], nullptr) : 600);
}
