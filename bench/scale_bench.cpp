// A large installed collection: N uniquely renamed copies of the installed Noto and DejaVu files
// (each copy gets its own family, full and PostScript name), in a temporary directory under a
// private fontconfig configuration and cache, removed afterwards. Prints, for the renderer built
// here and for a baseline renderer when one is named, every row of the large-collection table:
// spawn to HelloAck (cold, then warm beside a bare fontconfig listing of the same fonts in this
// process), RegisterFonts of all N by PostScript name, the first page (Measure and Render of 40
// fonts), memory after every 1 000 faces measured (growth per 1 000 faces and per resolved font
// once the face pool is full: the median step), one Measure naming all N with the memory figure
// after it and whether the next Ping gets its Pong; and, in this process, reopening a released face
// beside its first opening.
//
// Then a Render sweep of all N through the preview service (restarts, the renderer's memory,
// renders per second) beside the first 1 000, and kfp-preview's peak resident memory over all N
// beside over the first 1 000.
//
//   scale_bench [N] [--baseline PATH-OF-ANOTHER-RENDERER] [--all-rounds R]   (N defaults to 20000)
//
// With --all-rounds, only the one Measure naming all N, R times, the renderers taking turns.

#include <dirent.h>
#include <fcntl.h>
#include <fontconfig/fontconfig.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "kfp_client.h"
#include "platform/linux/files/face_store.h"
#include "platform/linux/fonts/font_index.h"
#include "platform/linux/fonts/font_set.h"
#include "platform/linux/text/text_engine.h"
#include "preview_service.h"
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

constexpr size_t kLargestSource = 256 * 1024;  // keeps 20 000 copies near 1.5 GB
constexpr size_t kPage = 40;
constexpr size_t kStep = 1000;
constexpr char kText[] = "The quick brown fox jumps over the lazy dog";

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

// ---- renamed copies ----

uint32_t readU32(const std::string& b, size_t at) {
  return uint32_t(uint8_t(b[at])) << 24 | uint32_t(uint8_t(b[at + 1])) << 16 |
         uint32_t(uint8_t(b[at + 2])) << 8 | uint32_t(uint8_t(b[at + 3]));
}
uint16_t readU16(const std::string& b, size_t at) {
  return uint16_t(uint8_t(b[at]) << 8 | uint8_t(b[at + 1]));
}
void putU16(std::string& b, uint16_t v) {
  b += char(v >> 8);
  b += char(v & 0xFF);
}
void writeU32(std::string& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = char(v >> (24 - 8 * i));
}

uint32_t tableChecksum(const std::string& table) {
  uint32_t sum = 0;
  std::string padded = table;
  padded.resize((padded.size() + 3) & ~size_t(3), '\0');
  for (size_t i = 0; i < padded.size(); i += 4) sum += readU32(padded, i);
  return sum;
}

// A name table with Windows English records only: family, subfamily, unique id, full name and
// PostScript name. Without typographic or WWS names each copy is a family of its own.
std::string nameTable(const std::string& family, const std::string& postScript) {
  const std::pair<uint16_t, std::string> names[] = {
      {1, family}, {2, "Regular"}, {3, postScript}, {4, family}, {6, postScript}};
  std::string records, strings;
  for (const auto& [id, text] : names) {
    putU16(records, 3);       // Windows
    putU16(records, 1);       // Unicode BMP
    putU16(records, 0x0409);  // English (US)
    putU16(records, id);
    putU16(records, uint16_t(text.size() * 2));
    putU16(records, uint16_t(strings.size()));
    for (char c : text) putU16(strings, uint8_t(c));  // ASCII names
  }
  std::string table;
  putU16(table, 0);
  putU16(table, uint16_t(std::size(names)));
  putU16(table, uint16_t(6 + records.size()));
  return table + records + strings;
}

// The font with its name table replaced (appended, the directory entry pointed at it); empty when
// the file is not a single-face sfnt with a name table.
std::string renamed(const std::string& font, const std::string& family,
                    const std::string& postScript) {
  if (font.size() < 12) return {};
  const uint32_t version = readU32(font, 0);
  if (version != 0x00010000 && version != 0x4F54544F /* OTTO */ && version != 0x74727565) {
    return {};
  }
  const uint16_t tables = readU16(font, 4);
  if (12 + size_t(tables) * 16 > font.size()) return {};
  for (uint16_t i = 0; i < tables; ++i) {
    const size_t entry = 12 + size_t(i) * 16;
    if (font.compare(entry, 4, "name") != 0) continue;
    std::string out = font;
    out.resize((out.size() + 3) & ~size_t(3), '\0');
    const std::string table = nameTable(family, postScript);
    writeU32(out, entry + 4, tableChecksum(table));
    writeU32(out, entry + 8, uint32_t(out.size()));
    writeU32(out, entry + 12, uint32_t(table.size()));
    return out + table;
  }
  return {};
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The collection on disk, removed with this object.
class Collection {
 public:
  explicit Collection(size_t count) {
    char pattern[] = "/tmp/kfp_scale_XXXXXX";
    if (!mkdtemp(pattern)) return;
    directory_ = pattern;
    std::vector<std::string> sources;
    for (const char* folder :
         {"/usr/share/fonts/truetype/noto", "/usr/share/fonts/truetype/dejavu"}) {
      if (!fs::is_directory(folder)) continue;
      for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() != ".ttf" || entry.file_size() > kLargestSource) continue;
        std::string bytes = readFile(entry.path());
        if (!renamed(bytes, "x", "x").empty()) sources.push_back(std::move(bytes));
      }
    }
    if (sources.empty()) return;
    fs::create_directories(directory_ / "fonts");
    for (size_t i = 0; i < count; ++i) {
      char family[32], postScript[32], file[32];
      std::snprintf(family, sizeof family, "Kfp Scale %05zu", i);
      std::snprintf(postScript, sizeof postScript, "KfpScale%05zu", i);
      std::snprintf(file, sizeof file, "f%05zu.ttf", i);
      const std::string bytes = renamed(sources[i % sources.size()], family, postScript);
      std::ofstream(directory_ / "fonts" / file, std::ios::binary) << bytes;
      postScriptNames_.push_back(postScript);
      bytes_ += bytes.size();
    }
    test::writeFontconfigFile(directory_ / "fonts.conf", directory_ / "fonts",
                              directory_ / "cache");
    sourceCount_ = sources.size();
  }
  ~Collection() {
    if (!directory_.empty()) fs::remove_all(directory_);
  }
  bool ok() const { return !postScriptNames_.empty(); }
  fs::path config() const { return directory_ / "fonts.conf"; }
  fs::path directory() const { return directory_; }
  const std::vector<std::string>& postScriptNames() const { return postScriptNames_; }
  size_t sourceCount() const { return sourceCount_; }
  size_t bytes() const { return bytes_; }

 private:
  fs::path directory_;
  std::vector<std::string> postScriptNames_;
  size_t sourceCount_ = 0;
  size_t bytes_ = 0;
};

// ---- through the renderer ----

uint64_t anonymousKiB(pid_t pid) {
  std::ifstream statm("/proc/" + std::to_string(pid) + "/statm");
  uint64_t size = 0, resident = 0, shared = 0;
  statm >> size >> resident >> shared;
  return (resident - shared) * uint64_t(sysconf(_SC_PAGESIZE)) / 1024;
}

// The process's CPU time (user + system), in milliseconds: on a loaded machine the wall time of a
// request says more about the neighbours than about the renderer.
double cpuMs(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string field;
  double ticks = 0;
  for (int i = 1; i <= 15 && stat >> field; ++i) {
    if (i >= 14) ticks += std::strtod(field.c_str(), nullptr);
  }
  return ticks * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

std::unique_ptr<Client> startRenderer(const std::string& path, double* helloMs = nullptr) {
  const auto start = Clock::now();
  auto renderer =
      Client::start({.rendererPath = path, .replyTimeout = client::Milliseconds(600000)})
          .valueOr(nullptr);
  Frame frame;
  if (!renderer || !renderer->hello() || renderer->receive(frame) != client::ReadStatus::kFrame ||
      frame.type != kHelloAck) {
    std::printf("  the renderer could not be started\n");
    return nullptr;
  }
  if (helloMs) *helloMs = msSince(start);
  return renderer;
}

// A bare fontconfig listing of the configured fonts, in this process: what any font tool pays.
double fontconfigListingMs(size_t* count) {
  const auto start = Clock::now();
  FcConfig* config = FcInitLoadConfigAndFonts();
  FcPattern* pattern = FcPatternCreate();
  FcObjectSet* objects =
      FcObjectSetBuild(FC_FAMILY, FC_STYLE, FC_FULLNAME, FC_POSTSCRIPT_NAME, FC_FILE, FC_INDEX,
                       FC_WEIGHT, FC_SLANT, FC_WIDTH, nullptr);
  FcFontSet* fonts = FcFontList(config, pattern, objects);
  *count = fonts ? size_t(fonts->nfont) : 0;
  if (fonts) FcFontSetDestroy(fonts);
  FcObjectSetDestroy(objects);
  FcPatternDestroy(pattern);
  FcConfigDestroy(config);
  return msSince(start);
}

LayoutRequest requestFor(size_t from, size_t to, uint64_t* generation) {
  LayoutRequest request;
  request.generation = ++*generation;
  request.text = kText;
  request.fontSize = 28;
  request.width = 400;
  for (size_t i = from; i < to; ++i) request.fontIds.push_back(std::to_string(i));
  return request;
}

bool registerAll(Client& renderer, const std::vector<std::string>& names, double* ms) {
  std::vector<FontDescriptor> fonts;
  for (size_t i = 0; i < names.size(); ++i) {
    fonts.push_back({.fontId = std::to_string(i), .postScriptName = names[i]});
  }
  const auto start = Clock::now();
  const auto registered = renderer.registerFontsAndWait(fonts);
  *ms = msSince(start);
  if (!registered)
    std::printf("  RegisterFonts failed: %s\n", registered.error().describe().c_str());
  return bool(registered);
}

// Ping, and what came back.
const char* pingOutcome(Client& renderer) {
  Frame frame;
  if (!renderer.ping() || renderer.receive(frame) != client::ReadStatus::kFrame) return "nothing";
  if (frame.type == kPong) return "Pong";
  if (frame.type == kFatalError) return "FatalError";
  return "another frame";
}

struct AllMeasured {
  bool ok = false;
  double wallMs = 0, cpuMs = 0, mib = 0;
  size_t resolved = 0;
  const char* ping = "";
};

// A fresh renderer with every font registered, then one Measure naming them all.
AllMeasured measureAll(const std::string& path, const std::vector<std::string>& names) {
  AllMeasured out;
  uint64_t generation = 0;
  double ms = 0;
  auto renderer = startRenderer(path);
  if (!renderer || !registerAll(*renderer, names, &ms)) return out;
  const double cpuBefore = cpuMs(renderer->pid());
  const auto start = Clock::now();
  const auto all = renderer->measureAndWait(requestFor(0, names.size(), &generation));
  out.wallMs = msSince(start);
  out.cpuMs = cpuMs(renderer->pid()) - cpuBefore;
  out.mib = double(anonymousKiB(renderer->pid())) / 1024;
  if (!all) {
    std::printf("  one Measure naming all %zu: failed (%s)\n", names.size(),
                all.error().describe().c_str());
    return out;
  }
  for (const auto& item : all->items) out.resolved += item.resolved;
  out.ping = pingOutcome(*renderer);
  out.ok = true;
  return out;
}

void runRenderer(const char* label, const std::string& path, const Collection& fonts) {
  std::printf("== %s (%s)\n", label, path.c_str());
  const size_t n = fonts.postScriptNames().size();
  uint64_t generation = 0;

  std::vector<double> warm, listing;
  for (int round = 0; round < 5; ++round) {
    double ms = 0;
    if (!startRenderer(path, &ms)) return;
    warm.push_back(ms);
    size_t listed = 0;
    listing.push_back(fontconfigListingMs(&listed));
    if (round == 0) std::printf("  fontconfig lists %zu fonts\n", listed);
  }
  std::printf(
      "  spawn to HelloAck, warm:            %8.1f ms   (bare fontconfig listing %.1f ms)\n",
      median(warm), median(listing));

  auto renderer = startRenderer(path);
  if (!renderer) return;
  double ms = 0;
  if (!registerAll(*renderer, fonts.postScriptNames(), &ms)) return;
  std::printf("  RegisterFonts of all %zu:         %8.1f ms\n", n, ms);

  auto start = Clock::now();
  const auto page = renderer->measureAndWait(requestFor(0, std::min(kPage, n), &generation));
  const double pageMeasure = msSince(start);
  start = Clock::now();
  const auto pageRender = renderer->renderAndWait(requestFor(0, std::min(kPage, n), &generation));
  const double pageRenderMs = msSince(start);
  if (!page || !pageRender) {
    std::printf("  first page failed\n");
    return;
  }
  size_t resolved = 0;
  for (const auto& item : page->items) resolved += item.resolved;
  std::printf("  first page, Measure / Render of %zu: %6.1f / %.1f ms (%zu resolved)\n", kPage,
              pageMeasure, pageRenderMs, resolved);

  // Memory after every kStep faces measured, each step a Measure of kStep new ids.
  std::vector<double> memory;
  memory.push_back(double(anonymousKiB(renderer->pid())));
  std::printf("  anonymous memory after the first page: %.1f MiB\n", memory[0] / 1024);
  size_t measured = 0;
  for (size_t from = 0; from < n; from += kStep) {
    const auto step =
        renderer->measureAndWait(requestFor(from, std::min(n, from + kStep), &generation));
    if (!step) {
      std::printf("  Measure of faces %zu.. failed: %s\n", from, step.error().describe().c_str());
      break;
    }
    measured = std::min(n, from + kStep);
    memory.push_back(double(anonymousKiB(renderer->pid())));
  }
  std::printf("  anonymous memory by faces measured:");
  for (size_t i = 1; i < memory.size(); ++i) {
    if (i == 1 || i % 4 == 0 || i + 1 == memory.size()) {
      std::printf(" %zu: %.0f MiB;", std::min(n, i * kStep), memory[i] / 1024);
    }
  }
  std::printf("\n");
  if (memory.size() >= 4) {
    // The median step after the first (which fills the face pool): a memory guard that clears the
    // cache makes a few steps negative, and they are not what a face costs.
    std::vector<double> steps;
    for (size_t i = 2; i < memory.size(); ++i) steps.push_back(memory[i] - memory[i - 1]);
    const double perStep = median(steps);
    std::printf("  growth per 1 000 faces:             %8.1f MiB   (%.2f KiB per resolved font)\n",
                perStep / 1024, perStep / double(kStep));
  }
  std::printf("  faces measured before the sweep ended: %zu of %zu; then Ping gets %s\n", measured,
              n, pingOutcome(*renderer));
  renderer.reset();

  const AllMeasured all = measureAll(path, fonts.postScriptNames());
  if (!all.ok) return;
  std::printf(
      "  one Measure naming all %zu:       %8.1f ms (renderer CPU %.0f ms), then %.1f MiB "
      "anonymous (%zu resolved); next Ping gets %s\n",
      n, all.wallMs, all.cpuMs, all.mib, all.resolved, all.ping);
}

// Rounds of the one Measure naming all fonts alone, the renderers taking turns so that both see
// the same machine load; the medians.
void alternateMeasureAll(const std::vector<std::pair<const char*, std::string>>& renderers,
                         const std::vector<std::string>& names, int rounds) {
  std::printf("== one Measure naming all %zu, %d rounds taking turns\n", names.size(), rounds);
  std::vector<std::vector<double>> wall(renderers.size()), cpu(renderers.size());
  for (int round = 0; round < rounds; ++round) {
    for (size_t r = 0; r < renderers.size(); ++r) {
      const AllMeasured all = measureAll(renderers[r].second, names);
      if (!all.ok) return;
      wall[r].push_back(all.wallMs);
      cpu[r].push_back(all.cpuMs);
    }
  }
  for (size_t r = 0; r < renderers.size(); ++r) {
    std::printf("  %-18s median %8.1f ms wall, %8.1f ms renderer CPU", renderers[r].first,
                median(wall[r]), median(cpu[r]));
    if (r > 0) std::printf("   (%.2fx of the first)", median(wall[r]) / median(wall[0]));
    std::printf("\n");
  }
}

// ---- through the preview service ----

// The renderers this process started, by parent process id and name.
std::vector<pid_t> rendererChildren() {
  std::vector<pid_t> pids;
  DIR* proc = opendir("/proc");
  if (!proc) return pids;
  while (const dirent* entry = readdir(proc)) {
    const pid_t pid = pid_t(std::strtol(entry->d_name, nullptr, 10));
    if (pid <= 0) continue;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    // pid (comm) state ppid ...
    const size_t close = line.rfind(')');
    if (close == std::string::npos || line.find("(kest-font-prev") == std::string::npos) continue;
    char state = 0;
    long parent = 0;
    if (std::sscanf(line.c_str() + close + 1, " %c %ld", &state, &parent) == 2 &&
        parent == long(getpid())) {
      pids.push_back(pid);
    }
  }
  closedir(proc);
  return pids;
}

struct Sweep {
  bool ok = false;
  double seconds = 0;
  size_t rendered = 0, drawn = 0;
  uint64_t restarts = 0;
  std::vector<double> memoryMiB;  // the renderer's anonymous memory after every kStep fonts
};

// One Render of `count` fonts through a one-renderer preview service, the renderer's memory read
// after every kStep results.
Sweep serviceSweep(const std::vector<std::string>& names, size_t count, size_t newFacesPerBatch) {
  Sweep sweep;
  client::PreviewServiceOptions options;
  options.rendererPath = KFP_RENDERER_PATH;
  options.workers = 1;
  options.replyTimeout = client::Milliseconds(600000);
  options.newFacesPerBatch = newFacesPerBatch;
  client::PreviewService previews(options);
  std::vector<FontDescriptor> fonts;
  for (size_t i = 0; i < names.size(); ++i) {
    fonts.push_back({.fontId = std::to_string(i), .postScriptName = names[i]});
  }
  previews.setFonts(std::move(fonts));
  client::PreviewRequest request;
  request.text = kText;
  request.fontSize = 28;
  request.width = 400;
  // Started and registered before the clock runs: the sweep is what is timed.
  request.fontIds = {"0"};
  if (!previews.measure(request)) return sweep;
  request.fontIds.clear();
  for (size_t i = 0; i < count; ++i) request.fontIds.push_back(std::to_string(i));
  std::mutex lock;
  const auto start = Clock::now();
  const auto done = previews.render(request, [&](size_t, client::RenderResult&& result) {
    std::lock_guard<std::mutex> hold(lock);
    ++sweep.rendered;
    sweep.drawn += result.resolved;
    if (sweep.rendered % kStep == 0) {
      double kib = 0;
      for (pid_t pid : rendererChildren()) kib += double(anonymousKiB(pid));
      sweep.memoryMiB.push_back(kib / 1024);
    }
  });
  sweep.seconds = msSince(start) / 1000;
  sweep.restarts = previews.stats().rendererRestarts;
  sweep.ok = bool(done);
  if (!done) std::printf("  the sweep failed: %s\n", done.error().describe().c_str());
  return sweep;
}

void printSweep(const char* label, const Sweep& sweep) {
  std::printf("  %-34s %6zu drawn of %zu in %6.2f s, %7.0f renders/s, %llu restarts\n", label,
              sweep.drawn, sweep.rendered, sweep.seconds, double(sweep.rendered) / sweep.seconds,
              static_cast<unsigned long long>(sweep.restarts));
  if (sweep.memoryMiB.size() < 2) return;
  std::printf("    renderer memory by fonts drawn:");
  for (size_t i = 0; i < sweep.memoryMiB.size(); ++i) {
    if (i == 0 || (i + 1) % 4 == 0 || i + 1 == sweep.memoryMiB.size()) {
      std::printf(" %zu: %.0f MiB;", (i + 1) * kStep, sweep.memoryMiB[i]);
    }
  }
  // Once the face pool has filled (the first step), what remains is the resolved fonts' entries,
  // which the renderer keeps until its cache is cleared: the growth per font after the first step.
  const auto [low, high] = std::minmax_element(sweep.memoryMiB.begin() + 1, sweep.memoryMiB.end());
  const double perFontKiB = (sweep.memoryMiB.back() - sweep.memoryMiB[0]) * 1024 /
                            double((sweep.memoryMiB.size() - 1) * kStep);
  std::printf("\n    after the first %zu: between %.1f and %.1f MiB, %.2f KiB per further font\n",
              kStep, *low, *high, perFontKiB);
}

void previewServiceSweeps(const Collection& fonts) {
  const std::vector<std::string>& names = fonts.postScriptNames();
  std::printf("== a Render sweep through the preview service (one renderer)\n");
  const Sweep first = serviceSweep(names, std::min(names.size(), kStep), 512);
  const Sweep all = serviceSweep(names, names.size(), 512);
  // The batches cut by reply size alone, as before the service counted unresolved faces.
  const Sweep uncut = serviceSweep(names, names.size(), names.size());
  if (!first.ok || !all.ok || !uncut.ok) return;
  printSweep("the first 1 000 (baseline):", first);
  printSweep("all, new faces cut per batch:", all);
  printSweep("all, batches cut by size only:", uncut);
  std::printf("  throughput of all against the first 1 000: %.2fx\n",
              (double(all.rendered) / all.seconds) / (double(first.rendered) / first.seconds));
}

// ---- the preview tool ----

struct ToolRun {
  bool ok = false;
  double seconds = 0;
  long peakKiB = 0;
  int status = 0;
  size_t pages = 0;
};

// kfp-preview over the first `limit` fonts (all when 0), its own peak resident memory from wait4.
ToolRun runPreviewTool(const Collection& fonts, size_t limit) {
  ToolRun run;
  const fs::path out = fonts.directory() / ("sheet-" + std::to_string(limit));
  fs::create_directories(out);
  const std::string output = (out / "preview.png").string();
  std::vector<std::string> args = {KFP_PREVIEW_PATH, "--renderer", KFP_RENDERER_PATH};
  if (limit > 0) {
    args.push_back("--limit");
    args.push_back(std::to_string(limit));
  }
  args.push_back(output);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const auto start = Clock::now();
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return run;
  struct rusage usage {};
  if (wait4(pid, &run.status, 0, &usage) != pid) return run;
  run.seconds = msSince(start) / 1000;
  run.peakKiB = usage.ru_maxrss;
  for (const auto& entry : fs::directory_iterator(out))
    run.pages += entry.path().extension() == ".png";
  run.ok = WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0;
  fs::remove_all(out);
  return run;
}

void previewToolMemory(const Collection& fonts) {
  const size_t n = fonts.postScriptNames().size();
  std::printf("== kfp-preview over the collection (%s)\n", KFP_PREVIEW_PATH);
  const ToolRun first = runPreviewTool(fonts, std::min(n, kStep));
  const ToolRun all = runPreviewTool(fonts, 0);
  for (const auto& [label, run] :
       {std::pair{"the first 1 000 (baseline):", &first}, std::pair{"all fonts:", &all}}) {
    std::printf("  %-28s %s, %zu pages in %6.1f s, peak resident %7.1f MiB\n", label,
                run->ok ? "exit 0" : "FAILED", run->pages, run->seconds,
                double(run->peakKiB) / 1024);
  }
  if (first.peakKiB > 0) {
    std::printf("  peak resident of all against the first 1 000: %.2fx\n",
                double(all.peakKiB) / double(first.peakKiB));
  }
}

// ---- in this process ----

// First opening (resolution: collection, names; text format; layout) beside reopening after the
// pool released the face (text format; layout), over the first faces of the collection.
void reopenCost(size_t faces) {
  std::printf("== reopening a released face, in process (the backend built here)\n");
  auto store = linux_backend::FaceStore::create();
  std::shared_ptr<const linux_backend::FontIndex> index = linux_backend::FontIndex::build();
  if (!store || !index) return;
  linux_backend::LinuxTextEngine engine(store, index);
  const FontSetRef system = engine.getSystemFontSet();
  const auto* set = dynamic_cast<const linux_backend::LinuxFontSet*>(system.get());
  if (!set) return;
  std::vector<uint32_t> ids(set->recordIds().begin(), set->recordIds().end());
  ids.resize(std::min(ids.size(), faces));

  std::vector<FontCollectionRef> collections;
  std::vector<std::u16string> families;
  const auto layOut = [&](size_t i) {
    TextFormatDescription description;
    description.familyName = families[i];
    description.fontCollection = collections[i];
    description.fontSize = 28;
    description.localeName = u"en-us";
    auto format = engine.createTextFormat(description);
    return format && engine.createTextLayout(u"The quick brown fox", *format, 400, 1e5);
  };
  size_t usable = 0;
  auto start = Clock::now();
  for (uint32_t id : ids) {
    linux_backend::LinuxFontSet one(index, {id});
    FontCollectionRef collection = engine.createFontCollection(one);
    std::u16string family;
    if (collection) collection->familyNames(0)->getString(0, &family);
    collections.push_back(collection);
    families.push_back(family);
    usable += collection && layOut(collections.size() - 1);
  }
  const double first = msSince(start) * 1000 / double(ids.size());
  store->releasePool();
  start = Clock::now();
  size_t reopened = 0;
  for (size_t i = 0; i < ids.size(); ++i) reopened += collections[i] && layOut(i);
  const double again = msSince(start) * 1000 / double(ids.size());
  std::printf("  first opening %.1f us per face, reopening %.1f us (%.2fx), %zu/%zu faces\n", first,
              again, again / first, reopened, usable);
}

}  // namespace
}  // namespace kfp

int main(int argc, char** argv) {
  size_t n = 20000;
  std::string baseline;
  int allRounds = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--baseline") == 0 && i + 1 < argc) {
      baseline = argv[++i];
    } else if (std::strcmp(argv[i], "--all-rounds") == 0 && i + 1 < argc) {
      allRounds = std::atoi(argv[++i]);
    } else {
      n = std::strtoul(argv[i], nullptr, 10);
    }
  }
  if (n == 0) return 2;
  const auto start = kfp::Clock::now();
  kfp::Collection fonts(n);
  if (!fonts.ok()) {
    std::printf("no installed fonts to copy\n");
    return 1;
  }
  std::printf("%zu renamed copies of %zu installed files, %.0f MiB, written in %.1f s\n", n,
              fonts.sourceCount(), double(fonts.bytes()) / (1 << 20), kfp::msSince(start) / 1000);
  setenv("FONTCONFIG_FILE", fonts.config().c_str(), 1);

  // The first start builds the private fontconfig cache.
  double cold = 0;
  if (!kfp::startRenderer(KFP_RENDERER_PATH, &cold)) return 1;
  std::printf("spawn to HelloAck, cold fontconfig cache: %.1f ms\n", cold);

  if (allRounds > 0) {
    std::vector<std::pair<const char*, std::string>> renderers = {
        {"this renderer", KFP_RENDERER_PATH}};
    if (!baseline.empty()) renderers.push_back({"baseline renderer", baseline});
    kfp::alternateMeasureAll(renderers, fonts.postScriptNames(), allRounds);
    return 0;
  }
  kfp::runRenderer("this renderer", KFP_RENDERER_PATH, fonts);
  if (!baseline.empty()) kfp::runRenderer("baseline renderer", baseline, fonts);
  kfp::previewServiceSweeps(fonts);
  kfp::previewToolMemory(fonts);
  kfp::reopenCost(300);
  return 0;
}
