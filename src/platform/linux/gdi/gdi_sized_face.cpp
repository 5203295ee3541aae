#include "platform/linux/gdi/gdi_sized_face.h"

#include <ft2build.h>
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "platform/linux/gdi/gdi_code_points.h"

namespace kfp::linux_backend {
namespace {

// GDI emboldens a face lighter than semibold when at least semibold is asked for.
constexpr int kSemiBold = 600;

int roundedPixels(double fontUnits, double scale) {
  return static_cast<int>(std::lround(fontUnits * scale));
}

int ceilPixels26Dot6(FT_Pos value) {
  return static_cast<int>((value + 63) >> 6);
}

// Windows-1252's characters 0x80-0x9F by Unicode code point; the rest of 0x00-0xFF is Latin-1.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// The character code of a code point in a bitmap font's 8-bit charmap; 0 (no glyph) outside it.
FT_ULong windows1252Code(char32_t codePoint) {
  if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF)) return codePoint;
  for (FT_ULong i = 0; i < 32; ++i) {
    if (kWindows1252High[i] != 0 && kWindows1252High[i] == codePoint) return 0x80 + i;
  }
  return 0;
}

// A whole-factor enlargement of a glyph bitmap, one coverage byte per pixel.
struct ScaledBitmap {
  std::vector<unsigned char> pixels;
  FT_Bitmap bitmap{};
};

void scaleBitmap(const FT_Bitmap& source, int factor, ScaledBitmap& out) {
  const unsigned width = source.width * unsigned(factor), rows = source.rows * unsigned(factor);
  out.pixels.assign(size_t(width) * rows, 0);
  for (unsigned row = 0; row < rows; ++row) {
    for (unsigned column = 0; column < width; ++column) {
      out.pixels[size_t(row) * width + column] =
          glyphCoverage(source, column / unsigned(factor), row / unsigned(factor));
    }
  }
  out.bitmap.rows = rows;
  out.bitmap.width = width;
  out.bitmap.pitch = int(width);
  out.bitmap.buffer = out.pixels.data();
  out.bitmap.num_grays = 256;
  out.bitmap.pixel_mode = FT_PIXEL_MODE_GRAY;
}

}  // namespace

GdiSizedFace::GdiSizedFace(std::shared_ptr<FreeTypeLibrary> library,
                           std::shared_ptr<MappedFontFile> file, const FontRecord& record,
                           const GdiFontRequest& request)
    : library_(std::move(library)),
      file_(std::move(file)),
      height_(request.height),
      synthesizeBold_(request.weight >= kSemiBold && record.weight < kSemiBold),
      synthesizeItalic_(request.italic && record.style == kStyleNormal) {}

std::shared_ptr<GdiSizedFace> GdiSizedFace::open(std::shared_ptr<FreeTypeLibrary> library,
                                                 std::shared_ptr<MappedFontFile> file,
                                                 const FontRecord& record,
                                                 const GdiFontRequest& request) {
  if (!library || !library->get() || !file) return nullptr;
  std::shared_ptr<GdiSizedFace> sized(
      new GdiSizedFace(std::move(library), std::move(file), record, request));
  // FreeType's face index carries the named instance in its upper 16 bits.
  const FT_Long faceIndex = FT_Long(record.faceIndex) | (FT_Long(record.namedInstance) << 16);
  FT_Face face = nullptr;
  if (openFreeTypeFace(sized->library_->get(), *sized->file_, faceIndex, &sized->stream_, &face) !=
      0) {
    return nullptr;
  }
  sized->face_.reset(face);
  // Bitmap fonts (.fon, .fnt) carry a single 8-bit charmap that FreeType need not select; without
  // one every character would be looked up as glyph 0.
  if (!face->charmap && face->num_charmaps > 0) FT_Set_Charmap(face, face->charmaps[0]);
  sized->unicodeCharmap_ = face->charmap && face->charmap->encoding == FT_ENCODING_UNICODE;
  if (!sized->size()) return nullptr;
  return sized;
}

bool GdiSizedFace::size() {
  if (FT_IS_SCALABLE(face_.get())) {
    sizeOutline();
    return true;
  }
  return sizeStrike();
}

void GdiSizedFace::sizeOutline() {
  FT_Face face = face_.get();
  const double unitsPerEm = face->units_per_EM > 0 ? face->units_per_EM : 1000;
  const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  const auto* hhea = static_cast<const TT_HoriHeader*>(FT_Get_Sfnt_Table(face, FT_SFNT_HHEA));

  // The classic cell: win ascent + win descent, else the face's ascender and descender.
  double cellAscent = face->ascender, cellDescent = -face->descender;
  if (os2 && os2->version != 0xFFFF && os2->usWinAscent + os2->usWinDescent > 0) {
    cellAscent = os2->usWinAscent;
    cellDescent = os2->usWinDescent;
  }
  double lineSpacing = cellAscent + cellDescent;
  if (hhea) lineSpacing = double(hhea->Ascender) - hhea->Descender + hhea->Line_Gap;

  // Negative: the em is the pixel size (character height); positive: the cell is the pixel size.
  int em = 16;
  if (height_ < 0) {
    em = -height_;
  } else if (height_ > 0 && cellAscent + cellDescent > 0) {
    em = std::max(1L, std::lround(height_ * unitsPerEm / (cellAscent + cellDescent)));
  }
  FT_Set_Pixel_Sizes(face, 0, FT_UInt(std::max(em, 1)));

  const double scale = em / unitsPerEm;
  ascent_ = roundedPixels(cellAscent, scale);
  descent_ = roundedPixels(cellDescent, scale);
  externalLeading_ = std::max(0, roundedPixels(lineSpacing - cellAscent - cellDescent, scale));
}

StrikeChoice chooseStrike(std::span<const FT_Bitmap_Size> strikes, int wanted, bool byCell) {
  StrikeChoice choice;
  int chosenSize = 0;
  int smallest = -1, smallestSize = 0;
  for (size_t i = 0; i < strikes.size(); ++i) {
    const int size = byCell ? int(strikes[i].height) : int((strikes[i].y_ppem + 32) >> 6);
    if (size <= 0) continue;
    if (smallest < 0 || size < smallestSize) {
      smallest = int(i);
      smallestSize = size;
    }
    if (size <= wanted && size > chosenSize) {
      choice.index = int(i);
      chosenSize = size;
    }
  }
  if (choice.index < 0) {
    // Every strike is above the request: the smallest, unscaled.
    choice.index = smallest;
    return choice;
  }
  choice.factor = std::max(1, wanted / chosenSize);
  return choice;
}

bool GdiSizedFace::sizeStrike() {
  FT_Face face = face_.get();
  if (face->num_fixed_sizes <= 0) return false;
  // Bitmap faces scale by whole multiples only: the largest strike not above the request,
  // enlarged as far as it still fits.
  const int wanted = height_ == 0 ? 16 : std::abs(height_);
  const StrikeChoice choice = chooseStrike(
      std::span<const FT_Bitmap_Size>(face->available_sizes, size_t(face->num_fixed_sizes)), wanted,
      height_ > 0);
  if (choice.index < 0) return false;
  if (FT_Select_Size(face, choice.index) != 0) return false;
  scale_ = choice.factor;
  const FT_Size_Metrics& metrics = face->size->metrics;
  ascent_ = ceilPixels26Dot6(metrics.ascender);
  descent_ = ceilPixels26Dot6(-metrics.descender);
  if (ascent_ + descent_ <= 0) {
    ascent_ = face->available_sizes[choice.index].height;
    descent_ = 0;
  }
  ascent_ *= scale_;
  descent_ *= scale_;
  externalLeading_ = 0;
  return true;
}

bool GdiSizedFace::loadGlyph(char32_t codePoint) {
  FT_Face face = face_.get();
  const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
  const FT_ULong code = unicodeCharmap_ ? FT_ULong(codePoint) : windows1252Code(codePoint);
  const FT_UInt glyph = surrogate || code == 0 ? 0 : FT_Get_Char_Index(face, code);
  if (FT_Load_Glyph(face, glyph, FT_LOAD_DEFAULT) != 0) return false;
  FT_GlyphSlot slot = face->glyph;
  if (synthesizeItalic_ && slot->format == FT_GLYPH_FORMAT_OUTLINE) FT_GlyphSlot_Oblique(slot);
  if (synthesizeBold_) FT_GlyphSlot_Embolden(slot);
  return true;
}

int GdiSizedFace::advance(char32_t codePoint) {
  if (auto it = advances_.find(codePoint); it != advances_.end()) return it->second;
  // A glyph that cannot be loaded takes no room and draws nothing.
  int pixels = 0;
  if (loadGlyph(codePoint)) pixels = static_cast<int>((face_->glyph->advance.x + 32) >> 6) * scale_;
  advances_.emplace(codePoint, pixels);
  return pixels;
}

int GdiSizedFace::fitCount(std::u16string_view run, int maxExtent) {
  int64_t total = 0;
  int fit = 0;
  forEachCodePoint(run, [&](char32_t codePoint, int units) {
    total += advance(codePoint);
    if (total > maxExtent) return false;
    fit += units;
    return true;
  });
  return fit;
}

int64_t GdiSizedFace::extent(std::u16string_view run) {
  int64_t total = 0;
  forEachCodePoint(run, [&](char32_t codePoint, int) {
    total += advance(codePoint);
    return true;
  });
  return total;
}

void GdiSizedFace::draw(std::u16string_view run, int x, int y, uint32_t colorRef,
                        BgrxSurface surface) {
  int64_t pen = x;
  const int64_t baseline = int64_t{y} + ascent_;
  ScaledBitmap scaled;
  forEachCodePoint(run, [&](char32_t codePoint, int) {
    const int step = advance(codePoint);
    if (pen >= surface.width) return false;
    if (loadGlyph(codePoint)) {
      FT_GlyphSlot slot = face_->glyph;
      if (slot->format == FT_GLYPH_FORMAT_BITMAP ||
          FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) == 0) {
        const FT_Bitmap* bitmap = &slot->bitmap;
        if (scale_ > 1) {
          scaleBitmap(slot->bitmap, scale_, scaled);
          bitmap = &scaled.bitmap;
        }
        blitGlyph(library_->get(), *bitmap, int(pen + slot->bitmap_left * scale_),
                  int(baseline - slot->bitmap_top * scale_), colorRef, surface);
      }
    }
    pen += step;
    return true;
  });
}

}  // namespace kfp::linux_backend
