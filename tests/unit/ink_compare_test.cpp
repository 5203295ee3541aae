// Compares where our renderer puts ink with an independent renderer: Pango + cairo drawing the
// same font file (found by family through fontconfig) at the same pixel size into an A8 surface.
// A wrong origin, size or DPI scale moves the ink box by far more than the tolerance; hinting and
// anti-aliasing differences stay within it. Pango is loaded at run time, so the test needs no
// link-time dependency and skips where it is absent.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "linux_text_fixture.h"
#include "platform/linux/raster/graphics.h"
#include "support/installed_fonts.h"

// Pango keeps its font map and fontconfig's patterns for the life of the process; under
// LeakSanitizer those process-lifetime allocations are not ours to report.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\nleak:libpango-1.0.so\nleak:libpangoft2-1.0.so\n"
         "leak:libpangocairo-1.0.so\nleak:libcairo.so\nleak:libglib-2.0.so\n"
         "leak:libgobject-2.0.so\n";
}

namespace kfp::linux_backend {
namespace {

using fixture::LinuxTextFixture;

// The few Pango, cairo and GObject entry points the reference drawing needs.
struct PangoCairo {
  void* (*imageSurfaceCreate)(int format, int width, int height);
  void* (*create)(void* surface);
  void (*moveTo)(void* cr, double x, double y);
  void (*surfaceFlush)(void* surface);
  unsigned char* (*imageSurfaceGetData)(void* surface);
  int (*imageSurfaceGetStride)(void* surface);
  void (*destroy)(void* cr);
  void (*surfaceDestroy)(void* surface);
  void* (*fontOptionsCreate)();
  void (*fontOptionsSetAntialias)(void* options, int antialias);
  void (*fontOptionsSetHintStyle)(void* options, int style);
  void (*fontOptionsSetHintMetrics)(void* options, int metrics);
  void (*fontOptionsDestroy)(void* options);
  void* (*createLayout)(void* cr);
  void* (*layoutGetContext)(void* layout);
  void (*contextSetFontOptions)(void* context, const void* options);
  void (*layoutContextChanged)(void* layout);
  void* (*fontDescriptionFromString)(const char* text);
  void (*fontDescriptionSetAbsoluteSize)(void* description, double size);
  void (*fontDescriptionFree)(void* description);
  void (*layoutSetFontDescription)(void* layout, const void* description);
  void (*layoutSetText)(void* layout, const char* text, int length);
  int (*layoutGetBaseline)(void* layout);
  void (*showLayout)(void* cr, void* layout);
  void (*objectUnref)(void* object);

  // nullptr when the libraries are not installed. They stay loaded for the process's life: GLib
  // type registrations do not survive unloading.
  static const PangoCairo* load() {
    static const PangoCairo* api = []() -> const PangoCairo* {
      static PangoCairo table;
      void* libraries[] = {dlopen("libcairo.so.2", RTLD_NOW), dlopen("libpango-1.0.so.0", RTLD_NOW),
                           dlopen("libpangocairo-1.0.so.0", RTLD_NOW),
                           dlopen("libgobject-2.0.so.0", RTLD_NOW)};
      bool ok = std::all_of(std::begin(libraries), std::end(libraries), [](void* l) { return l; });
      auto bind = [&](auto& slot, const char* name) {
        void* symbol = nullptr;
        for (void* library : libraries) {
          if (library && !symbol) symbol = dlsym(library, name);
        }
        ok = ok && symbol;
        slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(symbol);
      };
      bind(table.imageSurfaceCreate, "cairo_image_surface_create");
      bind(table.create, "cairo_create");
      bind(table.moveTo, "cairo_move_to");
      bind(table.surfaceFlush, "cairo_surface_flush");
      bind(table.imageSurfaceGetData, "cairo_image_surface_get_data");
      bind(table.imageSurfaceGetStride, "cairo_image_surface_get_stride");
      bind(table.destroy, "cairo_destroy");
      bind(table.surfaceDestroy, "cairo_surface_destroy");
      bind(table.fontOptionsCreate, "cairo_font_options_create");
      bind(table.fontOptionsSetAntialias, "cairo_font_options_set_antialias");
      bind(table.fontOptionsSetHintStyle, "cairo_font_options_set_hint_style");
      bind(table.fontOptionsSetHintMetrics, "cairo_font_options_set_hint_metrics");
      bind(table.fontOptionsDestroy, "cairo_font_options_destroy");
      bind(table.createLayout, "pango_cairo_create_layout");
      bind(table.layoutGetContext, "pango_layout_get_context");
      bind(table.contextSetFontOptions, "pango_cairo_context_set_font_options");
      bind(table.layoutContextChanged, "pango_layout_context_changed");
      bind(table.fontDescriptionFromString, "pango_font_description_from_string");
      bind(table.fontDescriptionSetAbsoluteSize, "pango_font_description_set_absolute_size");
      bind(table.fontDescriptionFree, "pango_font_description_free");
      bind(table.layoutSetFontDescription, "pango_layout_set_font_description");
      bind(table.layoutSetText, "pango_layout_set_text");
      bind(table.layoutGetBaseline, "pango_layout_get_baseline");
      bind(table.showLayout, "pango_cairo_show_layout");
      bind(table.objectUnref, "g_object_unref");
      return ok ? &table : nullptr;
    }();
    return api;
  }
};

constexpr int kCairoFormatA8 = 2;
constexpr int kCairoAntialiasGray = 3;
constexpr int kCairoHintStyleNone = 1;
constexpr int kCairoHintMetricsOff = 2;
constexpr double kPangoScale = 1024;

struct InkBox {
  int left = INT32_MAX, top = INT32_MAX, right = -1, bottom = -1;  // inclusive
  bool empty() const { return right < 0; }
};

InkBox inkBox(const uint8_t* data, int width, int height, int stride) {
  InkBox box;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      // Faint fringes differ most between rasterizers; count clear coverage only.
      if (data[size_t(y) * stride + x] < 64) continue;
      box.left = std::min(box.left, x);
      box.top = std::min(box.top, y);
      box.right = std::max(box.right, x);
      box.bottom = std::max(box.bottom, y);
    }
  }
  return box;
}

std::string toUtf8(std::u16string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    if (c < 0x80) {
      out += char(c);
    } else if (c < 0x800) {
      out += char(0xC0 | c >> 6), out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += char(0xE0 | c >> 12), out += char(0x80 | (c >> 6 & 0x3F)),
          out += char(0x80 | (c & 0x3F));
    } else {
      out += char(0xF0 | c >> 18), out += char(0x80 | (c >> 12 & 0x3F)),
          out += char(0x80 | (c >> 6 & 0x3F)), out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// Pango's drawing of one line, its baseline placed at `baseline` pixels from the top.
InkBox referenceInk(const PangoCairo& pc, const char* family, std::u16string_view text,
                    double pixelSize, double baseline, int width, int height) {
  void* surface = pc.imageSurfaceCreate(kCairoFormatA8, width, height);
  void* cr = pc.create(surface);
  void* layout = pc.createLayout(cr);
  void* options = pc.fontOptionsCreate();
  pc.fontOptionsSetAntialias(options, kCairoAntialiasGray);
  pc.fontOptionsSetHintStyle(options, kCairoHintStyleNone);
  pc.fontOptionsSetHintMetrics(options, kCairoHintMetricsOff);
  pc.contextSetFontOptions(pc.layoutGetContext(layout), options);
  pc.layoutContextChanged(layout);
  void* description = pc.fontDescriptionFromString(family);
  pc.fontDescriptionSetAbsoluteSize(description, pixelSize * kPangoScale);
  pc.layoutSetFontDescription(layout, description);
  const std::string utf8 = toUtf8(text);
  pc.layoutSetText(layout, utf8.c_str(), static_cast<int>(utf8.size()));
  pc.moveTo(cr, 0, baseline - pc.layoutGetBaseline(layout) / kPangoScale);
  pc.showLayout(cr, layout);
  pc.surfaceFlush(surface);
  const InkBox box =
      inkBox(pc.imageSurfaceGetData(surface), width, height, pc.imageSurfaceGetStride(surface));
  pc.fontDescriptionFree(description);
  pc.fontOptionsDestroy(options);
  pc.objectUnref(layout);
  pc.destroy(cr);
  pc.surfaceDestroy(surface);
  return box;
}

TEST(InkCompare, InkBoxMatchesPangoCairo) {
  const PangoCairo* pc = PangoCairo::load();
  if (!pc) GTEST_SKIP() << "pangocairo is not installed";
  struct Case {
    const char* path;
    const char* family;
    std::u16string text;
    float scale;
  };
  const Case cases[] = {
      {fixture::kDejaVuSans, "DejaVu Sans", u"Hamburgefonts", 1},
      {fixture::kDejaVuSans, "DejaVu Sans", u"Hamburgefonts", 2},
      {fixture::kDejaVuSans, "DejaVu Sans", u"jQ|(gy)", 1.5f},
      {fixture::kInterVariable, "Inter", u"Typography 2024", 1},
      {fixture::kNotoArabic, "Noto Sans Arabic",
       u"\u0633\u0644\u0627\u0645 \u0639\u0644\u064A\u0643\u0645", 1},
      {fixture::kNotoDevanagari, "Noto Sans Devanagari",
       u"\u0928\u092E\u0938\u094D\u0924\u0947 \u0915\u094D\u0937\u093F", 1},
      {fixture::kNotoDevanagari, "Noto Sans Devanagari", u"\u0939\u093F\u0928\u094D\u0926\u0940",
       3},
  };
  LinuxTextFixture fonts;
  auto graphics = createLinuxGraphics();
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.family << " at scale " << c.scale);
    KFP_REQUIRE_INSTALLED_FONT(LinuxTextFixture::available(c.path), c.path);
    auto collection = fonts.collection({{c.path}});
    ASSERT_TRUE(collection);
    auto format =
        fonts.format(collection, std::u16string(c.family, c.family + strlen(c.family)), 28);
    ASSERT_TRUE(format);
    auto layout = fonts.layout(c.text, *format, 2000);
    ASSERT_TRUE(layout);
    ASSERT_EQ(layout->lines.size(), 1u);

    const int width = int(std::ceil(1000 * c.scale));
    const int height = int(std::ceil(layout->lines[0].height * c.scale));
    auto bitmap = graphics->createBitmap(width, height);
    auto target = graphics->createRenderTarget(*bitmap, 96 * c.scale);
    ASSERT_TRUE(target);
    target->beginDraw();
    target->clear();
    target->drawTextLayout(*layout);
    ASSERT_TRUE(target->endDraw());
    BitmapLock lock;
    ASSERT_TRUE(bitmap->lock(&lock));
    const InkBox ours = inkBox(lock.data, width, height, int(lock.stride));

    // Line metrics are our own (and tested on their own); the glyph placement relative to the
    // baseline and the left edge is what both renderers must agree on.
    const InkBox reference =
        referenceInk(*pc, c.family, c.text, 28.0 * c.scale,
                     std::round(layout->lines[0].baseline * c.scale), width, height);
    ASSERT_FALSE(ours.empty());
    ASSERT_FALSE(reference.empty());
    const int tolerance = 2;
    EXPECT_NEAR(ours.left, reference.left, tolerance);
    EXPECT_NEAR(ours.right, reference.right, tolerance + c.scale);
    EXPECT_NEAR(ours.top, reference.top, tolerance);
    EXPECT_NEAR(ours.bottom, reference.bottom, tolerance);
  }
}

}  // namespace
}  // namespace kfp::linux_backend
