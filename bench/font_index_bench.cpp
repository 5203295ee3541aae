// Startup and first-resolution cost of the installed-font index, against baselines measured in the
// same run: an empty child process, a bare fontconfig listing, and bare FreeType + HarfBuzz opens.
// It starts with what a first touch of a page costs on this machine, the floor under every path
// that meets new memory or a newly mapped font file.
//
//   font_index_bench [runs]

#include <fcntl.h>
#include <fontconfig/fontconfig.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/linux/fonts/font_collection.h"
#include "platform/linux/fonts/font_index.h"
#include "platform/linux/fonts/font_set.h"

extern char** environ;

namespace {

using namespace kfp;
using namespace kfp::linux_backend;
using Clock = std::chrono::steady_clock;

double microsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

struct Stats {
  double best = 0;
  double median = 0;
  double p90 = 0;
};

Stats statsOf(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  if (samples.empty()) return {};
  return {samples.front(), samples[samples.size() / 2], samples[samples.size() * 9 / 10]};
}

long rssAnonKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("RssAnon:", 0) == 0) return std::atol(line.c_str() + 8);
  }
  return -1;
}

// Child modes: the work a renderer does at startup, or a baseline of it.
int runChild(const char* mode) {
  long before = rssAnonKiB();
  if (std::strcmp(mode, "fontconfig") == 0) {
    FcConfig* config = FcInitLoadConfigAndFonts();
    FcPattern* all = FcPatternCreate();
    FcObjectSet* objects = FcObjectSetBuild(FC_FILE, FC_INDEX, FC_FAMILY, FC_FULLNAME,
                                            FC_POSTSCRIPT_NAME, FC_STYLE, nullptr);
    FcFontSet* fonts = FcFontList(config, all, objects);
    std::printf("%d %ld %ld\n", fonts ? fonts->nfont : 0, before, rssAnonKiB());
    FcFontSetDestroy(fonts);
    FcObjectSetDestroy(objects);
    FcPatternDestroy(all);
    FcConfigDestroy(config);
  } else if (std::strcmp(mode, "index") == 0) {
    auto index = FontIndex::build();
    auto set = index ? LinuxFontSet::scalableFonts(index) : nullptr;
    std::printf("%u %ld %ld\n", index ? index->size() : 0, before, rssAnonKiB());
  }
  return 0;
}

struct ChildRun {
  double micros = 0;
  std::string output;
};

ChildRun spawnChild(const char* self, const char* mode) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  std::string flag = std::string("--child=") + mode;
  char* argv[] = {const_cast<char*>(self), flag.data(), nullptr};
  Clock::time_point start = Clock::now();
  pid_t pid = 0;
  ChildRun run;
  if (posix_spawn(&pid, self, &actions, nullptr, argv, environ) == 0) {
    close(pipeFds[1]);
    char buffer[256];
    ssize_t n;
    while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) run.output.append(buffer, size_t(n));
    int status = 0;
    waitpid(pid, &status, 0);
    run.micros = microsSince(start);
  } else {
    close(pipeFds[1]);
  }
  close(pipeFds[0]);
  posix_spawn_file_actions_destroy(&actions);
  return run;
}

void benchStartup(const char* self, int runs) {
  std::printf("== process startup (spawn to exit), %d runs each\n", runs);
  const char* modes[] = {"empty", "fontconfig", "index"};
  Stats stats[3];
  std::string outputs[3];
  for (int m = 0; m < 3; ++m) {
    std::vector<double> samples;
    for (int i = 0; i < runs; ++i) {
      ChildRun run = spawnChild(self, modes[m]);
      samples.push_back(run.micros);
      outputs[m] = run.output;
    }
    stats[m] = statsOf(samples);
    std::printf("  %-11s best %7.2f ms  median %7.2f ms\n", modes[m], stats[m].best / 1000,
                stats[m].median / 1000);
  }
  unsigned count = 0;
  long before = 0, after = 0;
  std::sscanf(outputs[2].c_str(), "%u %ld %ld", &count, &before, &after);
  std::printf("  index child: %u records, RssAnon %ld KiB before, %ld KiB after build\n", count,
              before, after);
  std::printf("  index startup over empty process: best %.2f ms, median %.2f ms (target < 20)\n",
              (stats[2].best - stats[0].best) / 1000, (stats[2].median - stats[0].median) / 1000);
  std::printf("  ratio index / bare fontconfig listing (median, minus empty): %.2f\n",
              (stats[2].median - stats[0].median) / (stats[1].median - stats[0].median));
}

void benchBuild(int runs) {
  std::vector<double> samples;
  std::shared_ptr<FontIndex> index;
  for (int i = 0; i < runs; ++i) {
    index.reset();
    Clock::time_point start = Clock::now();
    index = FontIndex::build();
    samples.push_back(microsSince(start));
  }
  Stats s = statsOf(samples);
  std::printf(
      "== FontIndex::build in process: best %.2f ms, median %.2f ms; %u records, ~%.1f KiB\n",
      s.best / 1000, s.median / 1000, index ? index->size() : 0,
      index ? double(index->memoryBytes()) / 1024 : 0.0);
}

std::u16string pickEnglish(const std::shared_ptr<const LocalizedStrings>& names) {
  std::u16string text;
  if (!names || names->count() == 0) return text;
  uint32_t at = 0;
  if (!names->findLocaleName(u"en-us", &at)) at = 0;
  names->getString(at, &text);
  return text;
}

// Microseconds per page for the first touch of every page of a fresh mapping: anonymous memory,
// and a font file already in the page cache.
void benchPageTouch() {
  const size_t page = size_t(sysconf(_SC_PAGESIZE));
  auto touchAll = [&](const volatile char* bytes, size_t size) {
    const Clock::time_point start = Clock::now();
    for (size_t i = 0; i < size; i += page) (void)bytes[i];
    return microsSince(start) / double(size / page);
  };
  constexpr size_t kAnonymousBytes = 16 << 20;
  void* anonymous =
      mmap(nullptr, kAnonymousBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (anonymous == MAP_FAILED) return;
  const Clock::time_point start = Clock::now();
  for (size_t i = 0; i < kAnonymousBytes; i += page) static_cast<char*>(anonymous)[i] = 1;
  const double anonymousWrite = microsSince(start) / double(kAnonymousBytes / page);
  const double anonymousRead = touchAll(static_cast<const char*>(anonymous), kAnonymousBytes);
  munmap(anonymous, kAnonymousBytes);

  // The largest installed font file, read once so that its pages are cached.
  auto index = FontIndex::build();
  std::string largest;
  off_t largestSize = 0;
  for (uint32_t id = 0; index && id < index->size(); ++id) {
    struct stat info;
    if (stat(index->record(id).path.c_str(), &info) == 0 && info.st_size > largestSize) {
      largest = index->record(id).path, largestSize = info.st_size;
    }
  }
  double fileRead = 0;
  const int fd = largest.empty() ? -1 : open(largest.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    std::vector<char> chunk(1 << 20);
    while (read(fd, chunk.data(), chunk.size()) > 0) {
    }
    void* file = mmap(nullptr, size_t(largestSize), PROT_READ, MAP_PRIVATE, fd, 0);
    if (file != MAP_FAILED) {
      fileRead = touchAll(static_cast<const char*>(file), size_t(largestSize));
      munmap(file, size_t(largestSize));
    }
    close(fd);
  }
  std::printf("== first touch of a page (machine floor)\n");
  std::printf("  anonymous, written: %.2f us/page; read again: %.3f us/page\n", anonymousWrite,
              anonymousRead);
  std::printf("  cached font file (%.1f MiB), read: %.2f us/page\n",
              double(largestSize) / 1048576.0, fileRead);
}

void benchResolution(size_t sampleSize) {
  auto index = FontIndex::build();
  auto library = FreeTypeLibrary::create();
  auto store = FaceStore::create();
  if (!index || !library || !store) return;
  auto set = LinuxFontSet::scalableFonts(index);
  std::vector<uint32_t> sample;
  size_t step = std::max<size_t>(1, set->fontCount() / sampleSize);
  for (size_t i = 0; i < set->fontCount(); i += step) sample.push_back(set->recordIds()[i]);

  // Baseline: only opening each face with FreeType and HarfBuzz.
  auto bareOpens = [&] {
    std::vector<double> samples;
    for (uint32_t id : sample) {
      const FontRecord& r = index->record(id);
      Clock::time_point start = Clock::now();
      FT_Face face = nullptr;
      FT_New_Face(library->get(), r.path.c_str(), FT_Long(r.faceIndex | r.namedInstance << 16),
                  &face);
      hb_blob_t* blob = hb_blob_create_from_file(r.path.c_str());
      hb_face_t* hbFace = hb_face_create(blob, r.faceIndex);
      hb_font_t* font = hb_font_create(hbFace);
      samples.push_back(microsSince(start));
      hb_font_destroy(font);
      hb_face_destroy(hbFace);
      hb_blob_destroy(blob);
      if (face) FT_Done_Face(face);
    }
    return statsOf(samples);
  };
  auto resolutions = [&] {
    std::vector<double> samples;
    size_t failures = 0;
    const uint32_t first = 0;
    for (uint32_t id : sample) {
      const std::u16string& postScript = index->record(id).postScriptName;
      Clock::time_point start = Clock::now();
      FontSetRef matched =
          set->asAxisAware()->matchProperty({FontPropertyId::kPostScriptName, postScript}, {});
      FontSetRef one = matched ? matched->asAxisAware()->filteredFonts({&first, 1}) : nullptr;
      auto collection = one ? createLinuxFontCollection(*store, *one) : nullptr;
      std::u16string family = collection ? pickEnglish(collection->familyNames(0)) : u"";
      samples.push_back(microsSince(start));
      if (family.empty()) ++failures;
    }
    if (failures) std::printf("  (%zu fonts without a PostScript name or family)\n", failures);
    return statsOf(samples);
  };
  std::printf("== first resolution per font (%zu fonts sampled)\n", sample.size());
  Stats cold = resolutions();
  Stats bare = bareOpens();
  Stats warm = resolutions();
  std::printf("  resolution, first pass:  median %6.1f us  p90 %6.1f us\n", cold.median, cold.p90);
  std::printf("  resolution, second pass: median %6.1f us  p90 %6.1f us (target < 100)\n",
              warm.median, warm.p90);
  std::printf("  bare FT+HB open:         median %6.1f us  p90 %6.1f us\n", bare.median, bare.p90);
  std::printf("  ratio resolution / bare open (median): %.2f\n", warm.median / bare.median);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strncmp(argv[1], "--child=", 8) == 0) return runChild(argv[1] + 8);
  int runs = argc > 1 ? std::max(3, std::atoi(argv[1])) : 15;
  benchPageTouch();
  benchStartup("/proc/self/exe", runs);
  benchBuild(std::max(3, runs / 2));
  benchResolution(200);
  return 0;
}
