#include "platform/linux/raster/glyph_cache.h"

#include <algorithm>

#include "platform/linux/files/loaded_face.h"

namespace kfp::linux_backend {

GlyphCache& LoadedFace::glyphCache() const {
  if (!glyphCache_) glyphCache_ = std::make_unique<GlyphCache>(*this);
  return *glyphCache_;
}

namespace {

constexpr size_t kInitialSlots = 64;
constexpr uint64_t kOccupied = uint64_t(1) << 63;

}  // namespace

GlyphCache::GlyphCache(const LoadedFace& face)
    : lineMetrics_(face.lineMetrics()),
      variations_(hb_font_get_face(face.hbFont()), face.record()) {}

GlyphCache::~GlyphCache() = default;

uint32_t GlyphCache::variationId(std::span<const float> coords) {
  bool forgotten = false;
  const uint32_t id = variations_.idFor(coords, &forgotten);
  if (forgotten) {
    clearImages();
    shapeMemo_.clear();
  }
  return id;
}

uint64_t GlyphCache::imageKey(uint32_t glyphId, uint32_t sizeIn64ths, uint32_t variationId,
                              uint32_t phase, uint32_t simulations) {
  // glyph 24 bits | size 22 bits | instance 8 bits | phase 3 bits | simulations 2 bits
  return kOccupied | uint64_t(glyphId & 0xFFFFFF) | uint64_t(sizeIn64ths & 0x3FFFFF) << 24 |
         uint64_t(variationId & 0xFF) << 46 | uint64_t(phase & 7) << 54 |
         uint64_t(simulations & 3) << 57;
}

size_t GlyphCache::slotIndex(uint64_t key) const {
  uint64_t h = key * 0x9E3779B97F4A7C15ull;
  const size_t mask = slots_.size() - 1;
  size_t i = static_cast<size_t>(h >> 32) & mask;
  while (slots_[i].key != 0 && slots_[i].key != key) i = (i + 1) & mask;
  return i;
}

bool GlyphCache::find(uint64_t key, GlyphImage* image) const {
  if (slots_.empty()) return false;
  const Slot& slot = slots_[slotIndex(key)];
  if (slot.key != key) return false;
  image->left = slot.left;
  image->top = slot.top;
  image->width = slot.width;
  image->height = slot.height;
  image->pixels = arena_.data() + slot.offset;
  return true;
}

void GlyphCache::grow() {
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(old.empty() ? kInitialSlots : old.size() * 2, Slot{});
  for (const Slot& slot : old) {
    if (slot.key != 0) slots_[slotIndex(slot.key)] = slot;
  }
}

void GlyphCache::clearImages() {
  slots_.clear();
  used_ = 0;
  arena_.clear();
}

void GlyphCache::insert(uint64_t key, const GlyphImage& image) {
  const size_t bytes = size_t(image.width) * image.height;
  if (bytes > kMaxCachedImage || image.width > 0xFFFF || image.height > 0xFFFF) return;
  if (arena_.size() + bytes > kArenaBudget || used_ >= kMaxEntries) clearImages();
  if ((used_ + 1) * 4 > slots_.size() * 3) grow();
  Slot& slot = slots_[slotIndex(key)];
  if (slot.key == key) return;
  slot.key = key;
  slot.left = image.left;
  slot.top = image.top;
  slot.width = static_cast<uint16_t>(image.width);
  slot.height = static_cast<uint16_t>(image.height);
  slot.offset = static_cast<uint32_t>(arena_.size());
  if (bytes) {
    if (arena_.capacity() < arena_.size() + bytes) {
      arena_.reserve(std::min(kArenaBudget, std::max(arena_.size() + bytes, arena_.size() * 2)));
    }
    arena_.insert(arena_.end(), image.pixels, image.pixels + bytes);
  }
  ++used_;
}

size_t GlyphCache::memoryBytes() const {
  return arena_.capacity() + slots_.capacity() * sizeof(Slot) + shapeMemo_.memoryBytes();
}

}  // namespace kfp::linux_backend
