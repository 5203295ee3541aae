// What one face costs in heap memory, step by step, over the first installed scalable fonts: the
// FreeType face and the HarfBuzz face and font on their own (opened here directly, as the
// baseline), then the backend's collection (face opened, names read), a layout (shaping plans,
// shaper tables, shaped-paragraph memo, variation fonts) and a Render at two scales (glyph images,
// FreeType sizes). Heap bytes in use come from mallinfo2; resident anonymous memory beside it. The
// last row is what is left per resolved font once the face pool is given back.
//
//   face_memory_bench [faces]   (default 300)

#include <freetype/freetype.h>
#include <hb-ot.h>
#include <hb.h>
#include <malloc.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/files/face_store.h"
#include "platform/linux/files/mapped_font_file.h"
#include "platform/linux/fonts/font_collection.h"
#include "platform/linux/fonts/font_index.h"
#include "platform/linux/fonts/font_set.h"
#include "platform/linux/process_memory.h"
#include "platform/linux/raster/glyph_cache.h"
#include "platform/linux/raster/graphics.h"
#include "platform/linux/text/laid_out_text.h"
#include "platform/linux/text/text_engine.h"

namespace kfp::linux_backend {
namespace {

constexpr char16_t kText[] = u"The quick brown fox jumps over the lazy dog 0123456789";

size_t heapInUse() {
  return mallinfo2().uordblks + mallinfo2().hblkhd;
}

struct Step {
  const char* name;
  size_t heap = 0;
  uint64_t anonymous = 0;
};

class Meter {
 public:
  explicit Meter(size_t faces) : faces_(faces) { restart(); }
  void restart() {
    heap_ = heapInUse();
    anonymous_ = readPrivateBytes();
  }
  void record(const char* name) {
    steps_.push_back({name, heapInUse() - heap_, readPrivateBytes() - anonymous_});
    restart();
  }
  void print() const {
    std::printf("%-52s %12s %14s\n", "per face", "heap KiB", "anonymous KiB");
    for (const Step& step : steps_) {
      std::printf("%-52s %12.1f %14.1f\n", step.name,
                  double(ptrdiff_t(step.heap)) / 1024.0 / faces_,
                  double(int64_t(step.anonymous)) / 1024.0 / faces_);
    }
  }

 private:
  size_t faces_;
  size_t heap_ = 0;
  uint64_t anonymous_ = 0;
  std::vector<Step> steps_;
};

int run(size_t wanted) {
  auto store = FaceStore::create();
  std::shared_ptr<const FontIndex> index = FontIndex::build();
  if (!store || !index) {
    std::printf("font index unavailable\n");
    return 1;
  }
  LinuxTextEngine engine(store, index);
  const FontSetRef system = engine.getSystemFontSet();
  const auto* linuxSet = dynamic_cast<const LinuxFontSet*>(system.get());
  if (!linuxSet) return 1;
  std::vector<uint32_t> ids;
  for (uint32_t id : linuxSet->recordIds()) {
    const FontRecord& record = index->record(id);
    if (record.namedInstance == 0 && !record.color) ids.push_back(id);
    if (ids.size() == wanted) break;
  }
  const size_t n = ids.size();
  Meter meter(n);

  // Baseline: the libraries' own objects, opened directly over one mapping per file.
  {
    std::vector<std::shared_ptr<MappedFontFile>> files;
    for (uint32_t id : ids) files.push_back(MappedFontFile::map(index->record(id).path));
    meter.restart();
    FT_Library library = nullptr;
    FT_Init_FreeType(&library);
    std::vector<FT_Face> ftFaces;
    for (size_t i = 0; i < n; ++i) {
      FT_Face face = nullptr;
      if (files[i] &&
          FT_New_Memory_Face(library, reinterpret_cast<const FT_Byte*>(files[i]->data()),
                             FT_Long(files[i]->size()), FT_Long(index->record(ids[i]).faceIndex),
                             &face) == 0) {
        ftFaces.push_back(face);
      }
    }
    meter.record("FT_Face (FT_New_Memory_Face)");
    std::vector<hb_font_t*> hbFonts;
    for (size_t i = 0; i < n; ++i) {
      if (!files[i]) continue;
      hb_blob_t* blob = hb_blob_create(files[i]->data(), unsigned(files[i]->size()),
                                       HB_MEMORY_MODE_READONLY, nullptr, nullptr);
      hb_face_t* face = hb_face_create(blob, index->record(ids[i]).faceIndex);
      hb_font_t* font = hb_font_create(face);
      hb_face_destroy(face);
      hb_blob_destroy(blob);
      hbFonts.push_back(font);
    }
    meter.record("hb_face + hb_font (created)");
    hb_buffer_t* buffer = hb_buffer_create();
    hb_segment_properties_t props = HB_SEGMENT_PROPERTIES_DEFAULT;
    props.direction = HB_DIRECTION_LTR;
    props.script = HB_SCRIPT_LATIN;
    props.language = hb_language_from_string("en-us", -1);
    for (hb_font_t* font : hbFonts) {
      // Cached on the face: the shaping below finds it there.
      hb_shape_plan_destroy(
          hb_shape_plan_create_cached(hb_font_get_face(font), &props, nullptr, 0, nullptr));
    }
    meter.record("hb: shape plan (lookups of the script, GSUB/GPOS loaded)");
    for (hb_font_t* font : hbFonts) {
      hb_buffer_clear_contents(buffer);
      hb_buffer_add_utf16(buffer, reinterpret_cast<const uint16_t*>(kText), -1, 0, -1);
      hb_buffer_set_segment_properties(buffer, &props);
      hb_shape(font, buffer, nullptr, 0);
    }
    meter.record("hb: first shaping (cmap, hmtx, accelerators)");
    hb_buffer_destroy(buffer);
    for (hb_font_t* font : hbFonts) hb_font_destroy(font);
    for (FT_Face face : ftFaces) FT_Done_Face(face);
    FT_Done_FreeType(library);
    malloc_trim(0);
    meter.restart();
  }

  std::vector<FontCollectionRef> collections;
  std::vector<std::u16string> families;
  for (uint32_t id : ids) {
    LinuxFontSet one(index, {id});
    FontCollectionRef collection = engine.createFontCollection(one);
    auto names = collection ? collection->familyNames(0) : nullptr;
    std::u16string family;
    if (!names || !names->getString(0, &family)) continue;
    collections.push_back(std::move(collection));
    families.push_back(std::move(family));
  }
  meter.record("backend: collection (face opened, names read)");

  std::shared_ptr<Graphics> graphics = createLinuxGraphics();
  std::vector<std::unique_ptr<TextLayout>> layouts;
  for (size_t i = 0; i < collections.size(); ++i) {
    TextFormatDescription description;
    description.familyName = families[i];
    description.fontCollection = collections[i];
    description.fontSize = 28;
    description.localeName = u"en-us";
    auto format = engine.createTextFormat(description);
    auto layout = format ? engine.createTextLayout(kText, *format, 300, 100000) : nullptr;
    layouts.push_back(std::move(layout));
  }
  meter.record("backend: layout (shaping, per-face caches)");

  size_t cacheBytes = 0;
  for (const auto& layout : layouts) {
    if (!layout) continue;
    for (float scale : {1.0f, 2.0f}) {
      auto bitmap = graphics->createBitmap(uint32_t(300 * scale), uint32_t(80 * scale));
      auto target = graphics->createRenderTarget(*bitmap, 96 * scale);
      target->beginDraw();
      target->clear();
      target->drawTextLayout(*layout);
      target->endDraw();
    }
    cacheBytes += static_cast<const LinuxTextLayout&>(*layout).face->glyphCache().memoryBytes();
  }
  meter.record("backend: render x1, x2 (glyph images, FT sizes)");
  layouts.clear();
  meter.record("backend: layouts released");
  store->releasePool();
  malloc_trim(0);
  meter.record("backend: face pool released");

  std::printf("faces: %zu (of %zu scalable records)\n", n, linuxSet->recordIds().size());
  meter.print();
  std::printf("glyph caches as counted by the face: %.1f KiB per face\n",
              double(cacheBytes) / 1024.0 / double(n));
  std::printf("face pool: %zu faces, %.1f KiB counted, budget %.1f KiB\n", store->pooledFaces(),
              double(store->pooledBytes()) / 1024.0, double(store->budget()) / 1024.0);
  size_t held = heapInUse();
  collections.clear();
  store->forgetReleased();
  malloc_trim(0);
  std::printf("resolved collections without their faces: %.2f KiB per font\n",
              double(ptrdiff_t(held - heapInUse())) / 1024.0 / double(n));
  return 0;
}

}  // namespace
}  // namespace kfp::linux_backend

int main(int argc, char** argv) {
  const size_t faces = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 300;
  return kfp::linux_backend::run(faces);
}
