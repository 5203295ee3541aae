#pragma once
// One installed face opened at a GDI-style pixel size, with the classic cell metrics, whole-pixel
// glyph advances and glyph drawing onto a BGRX surface. Shared by every GDI-style font of the same
// face, height and synthetic styles (see GdiFaceCache), so creating such a font is a lookup.

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <unordered_map>

#include "platform/gdi.h"
#include "platform/linux/c_handles.h"
#include "platform/linux/files/loaded_face.h"
#include "platform/linux/files/mapped_font_file.h"
#include "platform/linux/fonts/font_record.h"
#include "platform/linux/gdi/gdi_glyph_bitmap.h"

namespace kfp::linux_backend {

// The strike a bitmap face is drawn from and the whole factor it is enlarged by.
struct StrikeChoice {
  int index = -1;  // -1: no usable strike
  int factor = 1;
};

// The largest strike whose size (cell height when byCell, else em) is not above `wanted`, scaled
// by the largest whole factor that keeps it within; the smallest strike, unscaled, when all are
// above. Sizes of zero are skipped.
StrikeChoice chooseStrike(std::span<const FT_Bitmap_Size> strikes, int wanted, bool byCell);

class GdiSizedFace {
 public:
  // nullptr when the mapped file cannot be opened as the record's face or sized as requested.
  static std::shared_ptr<GdiSizedFace> open(std::shared_ptr<FreeTypeLibrary> library,
                                            std::shared_ptr<MappedFontFile> file,
                                            const FontRecord& record,
                                            const GdiFontRequest& request);

  GdiTextMetrics metrics() const { return {ascent_ + descent_, externalLeading_}; }
  int ascent() const { return ascent_; }
  // True when the font file changed on disk since it was mapped: the face must not be used.
  bool fileChanged() const { return file_->changed(); }

  // How many code units of run fit within maxExtent pixels; a surrogate pair fits whole or not.
  int fitCount(std::u16string_view run, int maxExtent);
  // The run's width in pixels.
  int64_t extent(std::u16string_view run);
  // Draws run in colorRef (0x00BBGGRR) with the top-left corner of its cell at (x, y).
  void draw(std::u16string_view run, int x, int y, uint32_t colorRef, BgrxSurface surface);

 private:
  GdiSizedFace(std::shared_ptr<FreeTypeLibrary> library, std::shared_ptr<MappedFontFile> file,
               const FontRecord& record, const GdiFontRequest& request);
  bool size();
  void sizeOutline();
  bool sizeStrike();
  // Loads the glyph of codePoint into the face's slot with the synthetic styles applied.
  bool loadGlyph(char32_t codePoint);
  int advance(char32_t codePoint);

  // Released in reverse: the face before the mapping it reads and the library it belongs to.
  std::shared_ptr<FreeTypeLibrary> library_;
  std::shared_ptr<MappedFontFile> file_;
  FT_StreamRec stream_{};  // outlives the face
  FtFacePtr face_;
  int32_t height_ = 0;  // the requested height, see GdiFontRequest
  int ascent_ = 0;
  int descent_ = 0;
  int externalLeading_ = 0;
  int scale_ = 1;  // whole-factor enlargement of a bitmap strike
  bool unicodeCharmap_ = true;
  bool synthesizeBold_ = false;
  bool synthesizeItalic_ = false;
  std::unordered_map<char32_t, int> advances_;
};

}  // namespace kfp::linux_backend
