#include "platform/linux/gdi/gdi_sized_face.h"

#include <ft2build.h>
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cmath>
#include <cstdlib>

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

bool GdiSizedFace::sizeStrike() {
  FT_Face face = face_.get();
  if (face->num_fixed_sizes <= 0) return false;
  // Bitmap faces cannot scale: the strike nearest the request.
  const int wanted = height_ == 0 ? 16 : std::abs(height_);
  const int best = nearestStrike(
      std::span<const FT_Bitmap_Size>(face->available_sizes, size_t(face->num_fixed_sizes)), wanted,
      height_ > 0);
  if (best < 0) return false;
  if (FT_Select_Size(face, best) != 0) return false;
  const FT_Size_Metrics& metrics = face->size->metrics;
  ascent_ = ceilPixels26Dot6(metrics.ascender);
  descent_ = ceilPixels26Dot6(-metrics.descender);
  if (ascent_ + descent_ <= 0) {
    ascent_ = face->available_sizes[best].height;
    descent_ = 0;
  }
  externalLeading_ = 0;
  return true;
}

bool GdiSizedFace::loadGlyph(char32_t codePoint) {
  FT_Face face = face_.get();
  const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
  const FT_UInt glyph = surrogate ? 0 : FT_Get_Char_Index(face, FT_ULong(codePoint));
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
  if (loadGlyph(codePoint)) pixels = static_cast<int>((face_->glyph->advance.x + 32) >> 6);
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
  forEachCodePoint(run, [&](char32_t codePoint, int) {
    const int step = advance(codePoint);
    if (pen >= surface.width) return false;
    if (loadGlyph(codePoint)) {
      FT_GlyphSlot slot = face_->glyph;
      if (slot->format == FT_GLYPH_FORMAT_BITMAP ||
          FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) == 0) {
        blitGlyph(library_->get(), slot->bitmap, int(pen + slot->bitmap_left),
                  int(baseline - slot->bitmap_top), colorRef, surface);
      }
    }
    pen += step;
    return true;
  });
}

}  // namespace kfp::linux_backend
