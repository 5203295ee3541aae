// How costs grow: Measure and Render per font against text length (in process), and through the
// real renderer's pipes Measure and Render against the number of ids in one request, a 50 000-id
// Measure of one family with the renderer's own memory figures, ClearCache and exit with many
// resolved ids; and, in process, releasing many distinct faces. Every figure is printed beside a
// baseline measured in the same run: the smallest case of the same series (a linear series keeps a
// constant slope), an idle renderer, a Ping, or faces released the old way on one FreeType library.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "kfp_client.h"
#include "platform/linux/files/face_store.h"
#include "platform/linux/fonts/font_index.h"
#include "platform/linux/fonts/font_set.h"
#include "platform/linux/raster/graphics.h"
#include "platform/linux/text/text_engine.h"
#include "protocol/message_types.h"

namespace kfp {
namespace {

using client::Client;
using client::FontDescriptor;
using client::Frame;
using client::LayoutRequest;
using Clock = std::chrono::steady_clock;

constexpr double kMinSeconds = 0.3;
constexpr char kPangram[] = "The quick brown fox jumps over the lazy dog. ";

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Repeats `pass` until kMinSeconds; the fastest pass, in microseconds.
template <class Pass>
double fastestMicros(Pass pass) {
  pass();  // warm
  double best = 1e300;
  const auto start = Clock::now();
  do {
    const auto one = Clock::now();
    if (!pass()) return -1;
    best = std::min(best, secondsSince(one) * 1e6);
  } while (secondsSince(start) < kMinSeconds);
  return best;
}

struct ProcessMemory {
  double anonymousMiB = 0;
  double residentMiB = 0;
};

ProcessMemory memoryOf(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  ProcessMemory memory;
  std::string key;
  double kib = 0;
  while (status >> key) {
    if (key == "RssAnon:" && status >> kib) memory.anonymousMiB = kib / 1024;
    if (key == "VmRSS:" && status >> kib) memory.residentMiB = kib / 1024;
  }
  return memory;
}

std::unique_ptr<Client> startRenderer() {
  auto renderer = Client::start({.rendererPath = KFP_RENDERER_PATH,
                                 .replyTimeout = client::Milliseconds(600000)})
                      .valueOr(nullptr);
  Frame frame;
  if (!renderer || !renderer->hello() || renderer->receive(frame) != client::ReadStatus::kFrame) {
    std::printf("the renderer could not be started\n");
    return nullptr;
  }
  return renderer;
}

bool renderAll(Client& renderer, LayoutRequest& request) {
  ++request.generation;
  if (!renderer.render(request)) return false;
  Frame frame;
  for (size_t i = 0; i < request.fontIds.size(); ++i) {
    if (renderer.receive(frame) != client::ReadStatus::kFrame || frame.type != kRenderResult) {
      return false;
    }
  }
  return true;
}

bool measureAll(Client& renderer, LayoutRequest& request) {
  ++request.generation;
  return bool(renderer.measureAndWait(request));
}

// Per-step slopes of cost against size, and the last slope over the first (1.0: linear).
void printSeries(const char* what, const char* unit, const std::vector<size_t>& sizes,
                 const std::vector<double>& micros, double perSizeDivisor) {
  std::printf("%-28s", what);
  for (size_t i = 0; i < sizes.size(); ++i) {
    std::printf("  %6zu: %10.1f us", sizes[i], micros[i] / perSizeDivisor);
  }
  std::printf("\n%-28s", "  slope per step");
  std::vector<double> slopes;
  for (size_t i = 1; i < sizes.size(); ++i) {
    slopes.push_back((micros[i] - micros[i - 1]) / perSizeDivisor /
                     double(sizes[i] - sizes[i - 1]));
    std::printf("  %8.4f us/%s", slopes.back(), unit);
  }
  std::printf("\n  last slope / first slope (1.0 = linear): %.2f\n",
              slopes.back() / slopes.front());
}

std::vector<std::string> installedPostScriptNames() {
  std::vector<std::string> names;
  auto index = linux_backend::FontIndex::build();
  if (!index) return names;
  auto set = linux_backend::LinuxFontSet::scalableFonts(index);
  for (uint32_t id : set->recordIds()) {
    const std::u16string& name = index->record(id).postScriptName;
    if (name.empty() ||
        std::any_of(name.begin(), name.end(), [](char16_t c) { return c > 0x7E; })) {
      continue;
    }
    names.emplace_back(name.begin(), name.end());
  }
  return names;
}

// In process, through the text-engine and graphics seams: a request's text is capped at 200
// code units, so longer texts only exist below the protocol. A new text every pass, so that
// nothing shaped before is reused.
void textLengthGrowth() {
  using namespace linux_backend;
  std::printf(
      "== text length (in process, 8 Latin faces, width 1000, a new text each pass, per font;\n"
      "   baseline: the 10-char case)\n");
  auto store = FaceStore::create();
  std::shared_ptr<const FontIndex> index = FontIndex::build();
  if (!store || !index) return;
  LinuxTextEngine engine(store, index);
  std::shared_ptr<Graphics> graphics = createLinuxGraphics();
  const char16_t* kPostScriptNames[] = {
      u"DejaVuSans",       u"DejaVuSerif",       u"DejaVuSansMono",   u"DejaVuSans-Bold",
      u"NotoSans-Regular", u"NotoSerif-Regular", u"DejaVuSerif-Bold", u"NotoSans-Bold"};
  struct Face {
    FontCollectionRef collection;
    std::u16string family;
  };
  std::vector<Face> faces;
  auto set = LinuxFontSet::scalableFonts(index);
  for (const char16_t* name : kPostScriptNames) {
    for (uint32_t id : set->recordIds()) {
      if (index->record(id).postScriptName != name) continue;
      LinuxFontSet one(index, {id});
      FontCollectionRef collection = engine.createFontCollection(one);
      std::u16string family;
      if (collection && collection->familyCount() > 0 &&
          collection->familyNames(0)->getString(0, &family)) {
        faces.push_back({collection, family});
      }
      break;
    }
  }
  if (faces.empty()) return;
  constexpr float kWidth = 1000;
  auto layOut = [&](const Face& face, std::u16string_view text) -> std::unique_ptr<TextLayout> {
    TextFormatDescription request;
    request.familyName = face.family;
    request.fontCollection = face.collection;
    request.fontSize = 28;
    request.localeName = u"en-us";
    auto format = engine.createTextFormat(request);
    if (!format) return nullptr;
    format->setWordWrapping(WordWrapping::kEmergencyBreak);
    return engine.createTextLayout(text, *format, kWidth, 1e6f);
  };
  auto draw = [&](const TextLayout& layout) {
    TextMetrics metrics;
    if (!layout.getMetrics(&metrics)) return false;
    auto bitmap = graphics->createBitmap(uint32_t(kWidth), uint32_t(std::ceil(metrics.height)) + 1);
    auto target = bitmap ? graphics->createRenderTarget(*bitmap, 96) : nullptr;
    if (!target) return false;
    target->beginDraw();
    target->clear();
    target->drawTextLayout(layout);
    return target->endDraw();
  };
  const std::vector<size_t> lengths = {10, 100, 1000, 10000};
  std::vector<double> measure, render;
  uint32_t serial = 0;
  std::u16string text;
  auto freshText = [&](size_t length) {
    text.clear();
    for (uint32_t n = ++serial; n; n /= 10) text += char16_t(u'0' + n % 10);
    text += u' ';
    while (text.size() < length) {
      for (const char* c = kPangram; *c && text.size() < length; ++c) text += char16_t(*c);
    }
  };
  for (size_t length : lengths) {
    measure.push_back(fastestMicros([&] {
      freshText(length);
      for (const Face& face : faces) {
        TextMetrics metrics;
        auto layout = layOut(face, text);
        if (!layout || !layout->getMetrics(&metrics)) return false;
      }
      return true;
    }));
    render.push_back(fastestMicros([&] {
      freshText(length);
      for (const Face& face : faces) {
        auto layout = layOut(face, text);
        if (!layout || !draw(*layout)) return false;
      }
      return true;
    }));
  }
  printSeries("Measure per font", "char", lengths, measure, double(faces.size()));
  printSeries("Render per font", "char", lengths, render, double(faces.size()));
}

void fontCountGrowth(const std::vector<std::string>& postScriptNames) {
  std::printf("== ids per request (installed faces round-robin, \"Hello\"; baseline: 10 ids)\n");
  auto renderer = startRenderer();
  if (!renderer || postScriptNames.empty()) return;
  const std::vector<size_t> counts = {10, 100, 1000, 10000};
  std::vector<FontDescriptor> fonts;
  for (size_t i = 0; i < counts.back(); ++i) {
    fonts.push_back({.fontId = std::to_string(i),
                     .postScriptName = postScriptNames[i % postScriptNames.size()]});
  }
  if (!renderer->registerFontsAndWait(fonts)) return;
  std::vector<double> first, measure, render;
  for (size_t count : counts) {
    LayoutRequest request;
    request.text = "Hello";
    for (size_t i = 0; i < count; ++i) request.fontIds.push_back(std::to_string(i));
    renderer->clearCache();
    const auto start = Clock::now();
    if (!measureAll(*renderer, request)) return;
    first.push_back(secondsSince(start) * 1e6);
    measure.push_back(fastestMicros([&] { return measureAll(*renderer, request); }));
    render.push_back(fastestMicros([&] { return renderAll(*renderer, request); }));
  }
  std::printf("(%zu distinct installed faces)\n", postScriptNames.size());
  printSeries("first Measure (resolution)", "id", counts, first, 1);
  printSeries("Measure, resolved", "id", counts, measure, 1);
  printSeries("Render, resolved", "id", counts, render, 1);
}

// Time of one ClearCache followed by a Ping, in milliseconds.
double clearMillis(Client& renderer) {
  Frame frame;
  const auto start = Clock::now();
  if (!renderer.clearCache() || !renderer.ping() ||
      renderer.receive(frame) != client::ReadStatus::kFrame) {
    return -1;
  }
  return secondsSince(start) * 1e3;
}

void manyIdsOneFamily() {
  constexpr size_t kIds = 50000;
  std::printf("== %zu ids naming one installed family, one Measure of all\n", kIds);
  auto renderer = startRenderer();
  if (!renderer) return;
  const ProcessMemory idle = memoryOf(renderer->pid());
  std::vector<FontDescriptor> fonts;
  LayoutRequest request;
  request.text = "a";
  for (size_t i = 0; i < kIds; ++i) {
    fonts.push_back({.fontId = std::to_string(i), .familyName = "DejaVu Sans"});
    request.fontIds.push_back(std::to_string(i));
  }
  if (!renderer->registerFontsAndWait(fonts)) return;
  const ProcessMemory registered = memoryOf(renderer->pid());
  const auto start = Clock::now();
  const bool ok = measureAll(*renderer, request);
  const double seconds = secondsSince(start);
  const ProcessMemory measured = memoryOf(renderer->pid());
  std::printf("  Measure of all: %.3f s%s (target <= 3 s)\n", seconds, ok ? "" : " FAILED");
  std::printf("  memory     anonymous %7.1f MiB  resident %7.1f MiB (targets <= 64, <= 128)\n",
              measured.anonymousMiB, measured.residentMiB);
  std::printf(
      "  baseline: idle renderer %5.1f MiB  %7.1f MiB; registered only %5.1f MiB  %5.1f MiB\n",
      idle.anonymousMiB, idle.residentMiB, registered.anonymousMiB, registered.residentMiB);
  const double pingMillis = [&] {
    Frame frame;
    const auto pingStart = Clock::now();
    renderer->ping();
    renderer->receive(frame);
    return secondsSince(pingStart) * 1e3;
  }();
  std::printf("  ClearCache + Ping: %.2f ms (baseline: Ping alone %.3f ms)\n",
              clearMillis(*renderer), pingMillis);
  measureAll(*renderer, request);
  const auto exitStart = Clock::now();
  renderer->shutdown();
  renderer->waitForExit(client::Milliseconds(600000));
  std::printf("  Shutdown to exit with %zu resolved ids: %.2f ms\n", kIds,
              secondsSince(exitStart) * 1e3);
}

void clearGrowth(const std::vector<std::string>& postScriptNames) {
  std::printf("== ClearCache and exit with N resolved ids (installed faces round-robin)\n");
  for (size_t count : {2000, 4000, 8000, 16000, 50000}) {
    auto renderer = startRenderer();
    if (!renderer || postScriptNames.empty()) return;
    std::vector<FontDescriptor> fonts;
    LayoutRequest request;
    request.text = "a";
    for (size_t i = 0; i < count; ++i) {
      fonts.push_back({.fontId = std::to_string(i),
                       .postScriptName = postScriptNames[i % postScriptNames.size()]});
      request.fontIds.push_back(std::to_string(i));
    }
    if (!renderer->registerFontsAndWait(fonts) || !measureAll(*renderer, request)) return;
    const double clear = clearMillis(*renderer);
    measureAll(*renderer, request);
    const auto exitStart = Clock::now();
    renderer->shutdown();
    renderer->waitForExit(client::Milliseconds(600000));
    std::printf("  %6zu ids: ClearCache + Ping %8.2f ms, Shutdown to exit %8.2f ms\n", count, clear,
                secondsSince(exitStart) * 1e3);
  }
}

// Distinct faces (not shared), released newest first: the store's bounded libraries against one
// library holding every face, as before.
void faceReleaseGrowth() {
  using namespace linux_backend;
  constexpr char kFont[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
  std::printf("== releasing N distinct faces newest first, in process (baseline: one library)\n");
  auto store = FaceStore::create();
  auto single = FreeTypeLibrary::create();
  auto file = store ? store->file(kFont) : nullptr;
  if (!file || !single) return;
  FontRecord record;
  record.path = kFont;
  for (size_t count : {2000, 4000, 8000, 16000}) {
    double seconds[2] = {};
    for (int way = 0; way < 2; ++way) {
      std::vector<std::shared_ptr<LoadedFace>> faces;
      for (size_t i = 0; i < count; ++i) {
        faces.push_back(LoadedFace::open(way == 0 ? store->library() : single, file, record));
      }
      const auto start = Clock::now();
      while (!faces.empty()) faces.pop_back();
      seconds[way] = secondsSince(start);
    }
    std::printf("  %6zu faces: %8.1f ms (%.2f us/face)   one library %8.1f ms   ratio x%.1f\n",
                count, seconds[0] * 1e3, seconds[0] * 1e6 / double(count), seconds[1] * 1e3,
                seconds[1] / seconds[0]);
  }
}

}  // namespace
}  // namespace kfp

int main(int argc, char** argv) {
  const std::string only = argc > 1 ? argv[1] : "";
  const auto names = kfp::installedPostScriptNames();
  if (only.empty() || only == "text") kfp::textLengthGrowth();
  if (only.empty() || only == "ids") kfp::fontCountGrowth(names);
  if (only.empty() || only == "family") kfp::manyIdsOneFamily();
  if (only.empty() || only == "clear") kfp::clearGrowth(names);
  if (only.empty() || only == "release") kfp::faceReleaseGrowth();
  return 0;
}
