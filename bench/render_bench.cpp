// Measure and Render through the text-engine and graphics seams, per font, over the installed
// scalable fonts, warm (collections built once), beside Pango + cairo doing the same layout and
// A8 drawing in the same run. Prints microseconds per font and the ratio to the baseline. The
// figures through the pipe are also set beside the pipe's own floor: frames of the same sizes
// written by a child that does nothing else (this program started with --write-frames).

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "kfp_client.h"
#include "platform/linux/fonts/font_collection.h"
#include "platform/linux/fonts/font_index.h"
#include "platform/linux/fonts/font_set.h"
#include "platform/linux/process_memory.h"
#include "platform/linux/raster/glyph_cache.h"
#include "platform/linux/raster/graphics.h"
#include "platform/linux/text/text_engine.h"
#include "protocol/message_types.h"

#if __has_include(<pango/pangocairo.h>)
#include <pango/pangocairo.h>
#define KFP_HAVE_PANGO 1
#endif

namespace kfp::linux_backend {
namespace {

constexpr char16_t kText[] = u"The quick brown fox jumps over the lazy dog 0123456789";
constexpr float kFontSize = 28;
constexpr float kWidth = 300;
constexpr double kMinSeconds = 0.4;

using Clock = std::chrono::steady_clock;

struct BenchFont {
  FontCollectionRef collection;
  std::u16string family;
  std::string familyUtf8;
  std::string postScriptName;  // how the renderer is told about the same face
};

std::string narrow(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) {
    if (c < 0x80) {
      out += char(c);
    } else if (c < 0x800) {
      out += char(0xC0 | c >> 6), out += char(0x80 | (c & 0x3F));
    } else {
      out += char(0xE0 | c >> 12), out += char(0x80 | (c >> 6 & 0x3F)),
          out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// Runs `pass` (one call over every font) until kMinSeconds; microseconds per font.
template <class Pass>
double microsecondsPerFont(size_t fonts, Pass pass) {
  pass();  // warm
  size_t passes = 0;
  const auto start = Clock::now();
  double elapsed = 0;
  do {
    pass();
    ++passes;
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  } while (elapsed < kMinSeconds);
  return elapsed * 1e6 / double(passes * fonts);
}

class SeamRenderer {
 public:
  explicit SeamRenderer(LinuxTextEngine& engine) : engine_(engine) {}

  std::unique_ptr<TextLayout> measure(const BenchFont& font, TextMetrics* metrics,
                                      std::u16string_view text = kText) {
    TextFormatDescription description;
    description.familyName = font.family;
    description.fontCollection = font.collection;
    description.fontSize = kFontSize;
    description.localeName = u"en-us";
    auto format = engine_.createTextFormat(description);
    if (!format) return nullptr;
    format->setWordWrapping(WordWrapping::kEmergencyBreak);
    auto layout = engine_.createTextLayout(text, *format, kWidth, 100000.0f);
    if (!layout || !layout->getMetrics(metrics)) return nullptr;
    return layout;
  }

  // Like the core's rasterizer: bitmap, target, draw, lock, copy the alpha out.
  bool render(const BenchFont& font, float scale, std::u16string_view text = kText) {
    TextMetrics metrics;
    auto layout = measure(font, &metrics, text);
    if (!layout) return false;
    const auto width = uint32_t(std::ceil(kWidth * scale));
    const auto height = uint32_t(std::ceil(std::ceil(std::max(metrics.height, 1.0f) * scale)));
    auto bitmap = graphics_->createBitmap(width, height);
    auto target = bitmap ? graphics_->createRenderTarget(*bitmap, 96 * scale) : nullptr;
    if (!target) return false;
    target->setGrayscaleTextAntialiasing();
    target->createOpaqueWhiteBrush();
    target->beginDraw();
    target->clear();
    target->drawTextLayout(*layout);
    BitmapLock lock;
    if (!target->endDraw() || !bitmap->lock(&lock)) return false;
    pixels_.resize(size_t(width) * height);
    for (uint32_t y = 0; y < height; ++y) {
      const uint8_t* row = lock.data + size_t(y) * lock.stride;
      uint8_t* out = pixels_.data() + size_t(y) * width;
      if (lock.bytesPerPixel == 1) {
        std::memcpy(out, row, width);
        continue;
      }
      for (uint32_t x = 0; x < width; ++x) out[x] = row[x * lock.bytesPerPixel + lock.alphaOffset];
    }
    return true;
  }

 private:
  LinuxTextEngine& engine_;
  std::shared_ptr<Graphics> graphics_ = createLinuxGraphics();
  std::vector<uint8_t> pixels_;
};

#ifdef KFP_HAVE_PANGO
class PangoRenderer {
 public:
  PangoRenderer()
      : context_(pango_font_map_create_context(pango_cairo_font_map_get_default())),
        options_(cairo_font_options_create()),
        text_(narrow(kText)) {
    cairo_font_options_set_antialias(options_, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(options_, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_hint_metrics(options_, CAIRO_HINT_METRICS_OFF);
    pango_cairo_context_set_font_options(context_, options_);
  }
  ~PangoRenderer() {
    cairo_font_options_destroy(options_);
    g_object_unref(context_);
  }

  PangoLayout* measure(const BenchFont& font, int* height, float scale) {
    pango_cairo_context_set_resolution(context_, 96.0 * scale);
    PangoLayout* layout = pango_layout_new(context_);
    PangoFontDescription* description = pango_font_description_new();
    pango_font_description_set_family(description, font.familyUtf8.c_str());
    pango_font_description_set_absolute_size(description, kFontSize * PANGO_SCALE);
    pango_layout_set_font_description(layout, description);
    pango_font_description_free(description);
    pango_layout_set_width(layout, int(kWidth * PANGO_SCALE));
    pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
    pango_layout_set_text(layout, text_.c_str(), -1);
    int width = 0;
    pango_layout_get_pixel_size(layout, &width, height);
    return layout;
  }

  bool render(const BenchFont& font, float scale) {
    int height = 0;
    PangoLayout* layout = measure(font, &height, scale);
    cairo_surface_t* surface = cairo_image_surface_create(
        CAIRO_FORMAT_A8, int(std::ceil(kWidth * scale)), std::max(1, height));
    cairo_t* cr = cairo_create(surface);
    pango_cairo_show_layout(cr, layout);
    cairo_surface_flush(surface);
    const bool ok = cairo_image_surface_get_data(surface) != nullptr;
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    g_object_unref(layout);
    return ok;
  }

 private:
  PangoContext* context_;
  cairo_font_options_t* options_;
  std::string text_;
};
#endif

// The whole path a host sees: the same faces registered by PostScript name with the real
// renderer, measured and rendered in one request each, all fonts already resolved.
struct PipeFigures {
  double measure = 0;
  double render[3] = {};
  size_t frameBytes[3] = {};  // the mean RenderResult frame, header and JSON included
  bool ok = false;
};

PipeFigures measureThroughPipe(const std::vector<BenchFont>& fonts,
                               const std::string& rendererPath = KFP_RENDERER_PATH) {
  PipeFigures figures;
  auto renderer = client::Client::start({.rendererPath = rendererPath}).valueOr(nullptr);
  if (!renderer || !renderer->hello()) return figures;
  std::vector<client::FontDescriptor> descriptors;
  client::LayoutRequest request;
  request.text = narrow(kText);
  request.fontSize = kFontSize;
  request.width = kWidth;
  for (size_t i = 0; i < fonts.size(); ++i) {
    descriptors.push_back({.fontId = std::to_string(i), .postScriptName = fonts[i].postScriptName});
    request.fontIds.push_back(std::to_string(i));
  }
  client::Frame frame;
  renderer->receive(frame);  // HelloAck
  if (!renderer->registerFontsAndWait(descriptors)) return figures;
  bool ok = true;
  figures.measure = microsecondsPerFont(fonts.size(), [&] {
    ++request.generation;
    ok = ok && renderer->measureAndWait(request);
  });
  for (int scale : {1, 2}) {
    request.dpiScale = scale;
    // A streaming host: each RenderResult is taken in as it arrives, into one reused frame.
    client::Frame frame;
    size_t bytes = 0, frames = 0;
    figures.render[scale] = microsecondsPerFont(fonts.size(), [&] {
      ++request.generation;
      ok = ok && renderer->render(request);
      for (size_t i = 0; ok && i < fonts.size(); ++i) {
        ok = renderer->receive(frame) == client::ReadStatus::kFrame && frame.type == kRenderResult;
        bytes += 9 + frame.json.size() + frame.payload.size(), ++frames;
      }
    });
    figures.frameBytes[scale] = frames ? bytes / frames : 0;
  }
  renderer->stop();
  figures.ok = ok;
  return figures;
}

// The child side of the pipe floor: `count` frames of `frameBytes` bytes each to standard output,
// in groups of about 256 KiB (the pipe at its best: the renderer writes one frame at a time),
// after one byte on standard input.
int writeFrames(size_t frameBytes, size_t count) {
  fcntl(1, F_SETPIPE_SZ, 1 << 20);
  const size_t perWrite = std::max<size_t>(1, std::min<size_t>(16, (256 << 10) / frameBytes));
  std::string group;
  for (size_t i = 0; i < perWrite; ++i) {
    std::string frame(frameBytes, '\0');
    const uint32_t length = uint32_t(frameBytes - 4), json = 2;
    std::memcpy(frame.data(), &length, 4);
    frame[4] = char(kRenderResult);
    std::memcpy(frame.data() + 5, &json, 4);
    frame[9] = '{', frame[10] = '}';
    group += frame;
  }
  char go;
  if (read(0, &go, 1) != 1) return 1;
  for (size_t sent = 0; sent < count; sent += perWrite) {
    const size_t n = std::min(perWrite, count - sent) * frameBytes;
    for (size_t done = 0; done < n;) {
      const ssize_t w = write(1, group.data() + done, n - done);
      if (w <= 0) return 1;
      done += size_t(w);
    }
  }
  return 0;
}

// Microseconds per frame for the host to take in frames of `frameBytes` from a child that only
// writes them: what the pipe itself costs on this machine.
double pipeFloor(size_t frameBytes) {
  constexpr size_t kFrames = 20000;
  auto child =
      client::RendererProcess::spawn(
          "/proc/self/exe", {"--write-frames", std::to_string(frameBytes), std::to_string(kFrames)})
          .valueOr(nullptr);
  if (!child || !child->writeBytes("g", 1)) return 0;
  client::Frame frame;
  const auto start = Clock::now();
  for (size_t i = 0; i < kFrames; ++i) {
    if (child->readFrame(frame, std::chrono::milliseconds(10000)) != client::ReadStatus::kFrame) {
      return 0;
    }
  }
  const double micros = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
  child->waitForExit(std::chrono::milliseconds(10000));
  return micros / kFrames;
}

// The cost of the confinement: the test twin through its pipes, confined and not, in alternating
// runs (which goes first alternates too); the median of each figure.
void printConfinementCost(const std::vector<BenchFont>& fonts) {
  constexpr int kRuns = 7;
  std::vector<double> figures[2][3];  // [confined][measure, render 1, render 2]
  for (int run = 0; run < kRuns; ++run) {
    for (const bool second : {false, true}) {
      const bool confined = (run % 2 == 0) != second;
      if (!confined) setenv("KFP_TEST_CONFINEMENT", "off", 1);
      const PipeFigures pipe = measureThroughPipe(fonts, KFP_RENDERER_TESTHOOKS_PATH);
      unsetenv("KFP_TEST_CONFINEMENT");
      if (!pipe.ok) {
        std::printf("confinement cost: the test twin could not be driven\n");
        return;
      }
      figures[confined][0].push_back(pipe.measure);
      figures[confined][1].push_back(pipe.render[1]);
      figures[confined][2].push_back(pipe.render[2]);
    }
  }
  const auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  std::printf("confinement through the pipe (test twin, median of %d runs, us per font):\n", kRuns);
  const char* names[] = {"Measure", "Render scale 1", "Render scale 2"};
  for (int i = 0; i < 3; ++i) {
    const double on = median(figures[1][i]), off = median(figures[0][i]);
    std::printf("%-16s confined %8.2f  unconfined %8.2f  %+6.1f %%\n", names[i], on, off,
                (on / off - 1) * 100);
  }
}

int run() {
  auto library = FaceStore::create();
  std::shared_ptr<const FontIndex> index = FontIndex::build();
  if (!library || !index) {
    std::printf("font index unavailable\n");
    return 1;
  }
  LinuxTextEngine engine(library, index);
  const FontSetRef system = engine.getSystemFontSet();
  if (!system) return 1;
  const auto* linuxSet = dynamic_cast<const LinuxFontSet*>(system.get());
  if (!linuxSet) return 1;

  const uint64_t memoryBefore = readPrivateBytes();
  std::vector<BenchFont> fonts;
  for (uint32_t id : linuxSet->recordIds()) {
    LinuxFontSet one(index, {id});
    FontCollectionRef collection = engine.createFontCollection(one);
    if (!collection || collection->familyCount() == 0) continue;
    auto names = collection->familyNames(0);
    std::u16string family;
    if (!names || !names->getString(0, &family)) continue;
    fonts.push_back({collection, family, narrow(family), narrow(index->record(id).postScriptName)});
  }
  SeamRenderer seam(engine);
  size_t usable = 0;
  for (const BenchFont& font : fonts) usable += seam.render(font, 1) && seam.render(font, 2);
  const uint64_t memoryAfter = readPrivateBytes();
  size_t cacheBytes = 0;
  for (const BenchFont& font : fonts) {
    auto handle = static_cast<const LinuxFontCollection&>(*font.collection)
                      .faceFor(font.family, kNormalWeight, kNormalStretch, kStyleNormal);
    auto face = handle ? library->open(*handle) : nullptr;
    if (face) cacheBytes += face->glyphCache().memoryBytes();
  }
  std::printf("fonts: %zu collections, %zu rendered\n", fonts.size(), usable);
  std::printf("memory per resolved font: %.1f KiB private (glyph caches %.1f KiB)\n",
              double(memoryAfter - memoryBefore) / 1024.0 / double(fonts.size()),
              double(cacheBytes) / 1024.0 / double(fonts.size()));

  const double measure = microsecondsPerFont(fonts.size(), [&] {
    for (const BenchFont& font : fonts) {
      TextMetrics metrics;
      seam.measure(font, &metrics);
    }
  });
  // A new text every pass: nothing is remembered from shaping the previous one.
  std::u16string fresh = kText;
  uint32_t serial = 0;
  const double measureFresh = microsecondsPerFont(fonts.size(), [&] {
    fresh.resize(std::size(kText) - 1);
    for (uint32_t n = ++serial; n; n /= 10) fresh += char16_t(u'0' + n % 10);
    for (const BenchFont& font : fonts) {
      TextMetrics metrics;
      seam.measure(font, &metrics, fresh);
    }
  });
  const double renderFresh = microsecondsPerFont(fonts.size(), [&] {
    fresh.resize(std::size(kText) - 1);
    for (uint32_t n = ++serial; n; n /= 10) fresh += char16_t(u'0' + n % 10);
    for (const BenchFont& font : fonts) seam.render(font, 1, fresh);
  });
  double render[3] = {};
  for (int scale : {1, 2}) {
    render[scale] = microsecondsPerFont(fonts.size(), [&] {
      for (const BenchFont& font : fonts) seam.render(font, float(scale));
    });
  }
  const PipeFigures pipe = measureThroughPipe(fonts);
  if (!pipe.ok) std::printf("the renderer could not be driven through its pipes\n");
#ifdef KFP_HAVE_PANGO
  PangoRenderer pango;
  const double pangoMeasure = microsecondsPerFont(fonts.size(), [&] {
    for (const BenchFont& font : fonts) {
      int height = 0;
      g_object_unref(pango.measure(font, &height, 1));
    }
  });
  double pangoRender[3] = {};
  for (int scale : {1, 2}) {
    pangoRender[scale] = microsecondsPerFont(fonts.size(), [&] {
      for (const BenchFont& font : fonts) pango.render(font, float(scale));
    });
  }
  std::printf("%-16s %12s %14s %8s\n", "per font", "ours (us)", "pango+cairo", "speedup");
  std::printf("%-16s %12.2f %14.2f %7.1fx\n", "Measure", measure, pangoMeasure,
              pangoMeasure / measure);
  for (int scale : {1, 2}) {
    std::printf("Render scale %d   %12.2f %14.2f %7.1fx\n", scale, render[scale],
                pangoRender[scale], pangoRender[scale] / render[scale]);
  }
  std::printf("end to end through the pipe (request, reply frames, bitmaps read by the host):\n");
  std::printf("Measure          %12.2f %14.2f %7.1fx\n", pipe.measure, pangoMeasure,
              pangoMeasure / pipe.measure);
  for (int scale : {1, 2}) {
    std::printf("Render scale %d   %12.2f %14.2f %7.1fx\n", scale, pipe.render[scale],
                pangoRender[scale], pangoRender[scale] / pipe.render[scale]);
  }
  std::printf("new text each pass (no remembered shaping):\n");
  std::printf("Measure          %12.2f %14.2f %7.1fx\n", measureFresh, pangoMeasure,
              pangoMeasure / measureFresh);
  std::printf("Render scale 1   %12.2f %14.2f %7.1fx\n", renderFresh, pangoRender[1],
              pangoRender[1] / renderFresh);
#else
  std::printf("Measure %.2f us/font, Render scale 1 %.2f, scale 2 %.2f (no Pango baseline)\n",
              measure, render[1], render[2]);
  std::printf("new text each pass: Measure %.2f, Render scale 1 %.2f\n", measureFresh, renderFresh);
  std::printf("through the pipe: Measure %.2f, Render scale 1 %.2f, scale 2 %.2f\n", pipe.measure,
              pipe.render[1], pipe.render[2]);
#endif
  // The same bytes through the same kind of pipe, from a writer that does nothing else.
  for (int scale : {1, 2}) {
    std::printf("pipe floor, scale %d: %.2f us per %zu-byte frame\n", scale,
                pipeFloor(pipe.frameBytes[scale]), pipe.frameBytes[scale]);
  }
  printConfinementCost(fonts);
  return 0;
}

}  // namespace
}  // namespace kfp::linux_backend

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--write-frames") == 0) {
    return kfp::linux_backend::writeFrames(std::stoul(argv[2]), std::stoul(argv[3]));
  }
  return kfp::linux_backend::run();
}
