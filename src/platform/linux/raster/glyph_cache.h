#pragma once
// Per-face state of layout and drawing, created on first use and released with the face: the line
// metrics, the variation instances, recently shaped paragraphs, and rendered glyph images kept per
// pixel size, variation instance, simulations and subpixel phase. Images live in one pixel arena
// and one open-addressing table, so a cache hit allocates nothing.

#include <cstdint>
#include <span>
#include <vector>

#include "platform/linux/fonts/face_metrics.h"
#include "platform/linux/fonts/variation_instances.h"
#include "platform/linux/text/shape_memo.h"

namespace kfp::linux_backend {

class LoadedFace;

// Bold and oblique drawn from a face that lacks them.
enum Simulation : uint8_t { kSimulateBold = 1, kSimulateOblique = 2 };

// Subpixel positions per pixel along x.
constexpr int kSubpixelPhases = 4;

// A coverage image, A8, rows of `width` bytes. `left` and `top` place its top-left pixel relative
// to the pen position (top counts up from the baseline, as FreeType's bitmap_top does).
struct GlyphImage {
  int32_t left = 0;
  int32_t top = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  const uint8_t* pixels = nullptr;
};

class GlyphCache {
 public:
  explicit GlyphCache(const LoadedFace& face);
  ~GlyphCache();
  GlyphCache(const GlyphCache&) = delete;
  GlyphCache& operator=(const GlyphCache&) = delete;

  const FaceLineMetrics& lineMetrics() const { return lineMetrics_; }
  VariationInstances& variations() { return variations_; }
  ShapeMemo& shapeMemo() { return shapeMemo_; }

  // A variation-instance id for the coordinates; drops images when old ids are forgotten.
  uint32_t variationId(std::span<const float> coords);

  // The key of one image. sizeIn64ths is the pixel size in 1/64 pixel.
  static uint64_t imageKey(uint32_t glyphId, uint32_t sizeIn64ths, uint32_t variationId,
                           uint32_t phase, uint32_t simulations);
  // True and the image when cached; the pixels stay valid until the next insert.
  bool find(uint64_t key, GlyphImage* image) const;
  // Keeps a copy of the image when it is small enough; beyond the byte or entry budget the cache
  // starts over.
  void insert(uint64_t key, const GlyphImage& image);

  // Bytes held by images and the table.
  size_t memoryBytes() const;

 private:
  static constexpr size_t kArenaBudget = 128 * 1024;
  static constexpr size_t kMaxCachedImage = 16 * 1024;
  // Empty images (spaces, failed renders) take no arena bytes, so the entries are capped too; at
  // this count the table stays at 4096 slots.
  static constexpr size_t kMaxEntries = 3072;
  struct Slot {
    uint64_t key = 0;  // 0: empty
    int32_t left = 0;
    int32_t top = 0;
    uint16_t width = 0;
    uint16_t height = 0;
    uint32_t offset = 0;
  };
  size_t slotIndex(uint64_t key) const;
  void grow();
  void clearImages();

  FaceLineMetrics lineMetrics_;
  VariationInstances variations_;
  ShapeMemo shapeMemo_;
  std::vector<Slot> slots_;
  size_t used_ = 0;
  std::vector<uint8_t> arena_;
};

}  // namespace kfp::linux_backend
