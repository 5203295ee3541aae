#include "platform/linux/text/shape_memo.h"

namespace kfp::linux_backend {

const ShapedParagraph* ShapeMemo::find(std::u16string_view text, uint32_t variationId,
                                       hb_language_t language) const {
  for (size_t i = 0; i < kEntries; ++i) {
    const ShapedParagraph& entry = entries_[i];
    if (used_[i] && entry.variationId == variationId && entry.language == language &&
        entry.text == text) {
      return &entry;
    }
  }
  return nullptr;
}

ShapedParagraph& ShapeMemo::slotFor(std::u16string_view text, uint32_t variationId,
                                    hb_language_t language) {
  const size_t slot = next_;
  next_ = (next_ + 1) % kEntries;
  used_[slot] = true;
  ShapedParagraph& entry = entries_[slot];
  entry.text.assign(text);
  entry.variationId = variationId;
  entry.language = language;
  return entry;
}

void ShapeMemo::clear() {
  used_.fill(false);
  for (ShapedParagraph& entry : entries_) entry = ShapedParagraph{};
}

size_t ShapeMemo::memoryBytes() const {
  size_t bytes = 0;
  for (const ShapedParagraph& entry : entries_) {
    bytes += entry.text.capacity() * sizeof(char16_t) + entry.runs.capacity() * sizeof(ShapedRun) +
             entry.glyphs.capacity() * sizeof(ShapedGlyph) + entry.clusterStarts.capacity();
  }
  return bytes;
}

}  // namespace kfp::linux_backend
