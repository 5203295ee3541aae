#include "platform/linux/gdi_sized_font.h"

#include <ft2build.h>
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "platform/linux/gdi_code_points.h"

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

// Coverage 0..255 of the glyph bitmap's pixel (column, row); 0 for unsupported pixel modes.
uint8_t coverageAt(const FT_Bitmap& bitmap, unsigned column, unsigned row) {
  const unsigned char* line = bitmap.buffer + static_cast<ptrdiff_t>(row) * bitmap.pitch;
  switch (bitmap.pixel_mode) {
    case FT_PIXEL_MODE_MONO:
      return (line[column >> 3] & (0x80 >> (column & 7))) ? 255 : 0;
    case FT_PIXEL_MODE_GRAY:
      return line[column];
    case FT_PIXEL_MODE_BGRA:
      return line[column * 4 + 3];
    default:
      return 0;
  }
}

uint8_t blend(uint8_t destination, uint8_t ink, uint8_t coverage) {
  return static_cast<uint8_t>((destination * (255 - coverage) + ink * coverage + 127) / 255);
}

void blit(const FT_Bitmap& bitmap, int left, int top, uint32_t colorRef, BgrxSurface surface) {
  if (bitmap.pitch < 0) return;  // bottom-up glyph bitmaps do not occur for these formats
  const uint8_t blue = uint8_t(colorRef >> 16), green = uint8_t(colorRef >> 8);
  const uint8_t red = uint8_t(colorRef);
  const int width = static_cast<int>(surface.width), height = static_cast<int>(surface.height);
  const int rowBegin = std::max(0, -top), columnBegin = std::max(0, -left);
  const int rowEnd = std::min<int>(bitmap.rows, height - top);
  const int columnEnd = std::min<int>(bitmap.width, width - left);
  for (int row = rowBegin; row < rowEnd; ++row) {
    uint8_t* pixel = surface.data + (size_t(top + row) * width + left + columnBegin) * 4;
    for (int column = columnBegin; column < columnEnd; ++column, pixel += 4) {
      const uint8_t coverage = coverageAt(bitmap, unsigned(column), unsigned(row));
      if (coverage == 0) continue;
      pixel[0] = blend(pixel[0], blue, coverage);
      pixel[1] = blend(pixel[1], green, coverage);
      pixel[2] = blend(pixel[2], red, coverage);
    }
  }
}

}  // namespace

std::unique_ptr<GdiSizedFont> GdiSizedFont::open(std::shared_ptr<FreeTypeLibrary> library,
                                                 const FontRecord& record, std::u16string faceName,
                                                 const GdiFontSpec& spec) {
  if (!library || !library->get()) return nullptr;
  std::unique_ptr<GdiSizedFont> font(new GdiSizedFont());
  font->library_ = std::move(library);
  FT_Face face = nullptr;
  const FT_Long index = FT_Long(record.faceIndex) | (FT_Long(record.namedInstance) << 16);
  if (FT_New_Face(font->library_->get(), record.path.c_str(), index, &face) != 0) return nullptr;
  font->face_.reset(face);
  font->faceName_ = std::move(faceName);
  font->synthesizeBold_ = spec.weight >= kSemiBold && record.weight < kSemiBold;
  font->synthesizeItalic_ = spec.italic && record.style == kStyleNormal;
  if (!font->size(spec)) return nullptr;
  return font;
}

bool GdiSizedFont::size(const GdiFontSpec& spec) {
  if (FT_IS_SCALABLE(face_.get())) {
    sizeOutline(spec);
    return true;
  }
  return sizeStrike(spec);
}

void GdiSizedFont::sizeOutline(const GdiFontSpec& spec) {
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
  if (spec.height < 0) {
    em = -spec.height;
  } else if (spec.height > 0 && cellAscent + cellDescent > 0) {
    em = std::max(1L, std::lround(spec.height * unitsPerEm / (cellAscent + cellDescent)));
  }
  FT_Set_Pixel_Sizes(face, 0, FT_UInt(std::max(em, 1)));

  const double scale = em / unitsPerEm;
  ascent_ = roundedPixels(cellAscent, scale);
  descent_ = roundedPixels(cellDescent, scale);
  externalLeading_ = std::max(0, roundedPixels(lineSpacing - cellAscent - cellDescent, scale));
}

bool GdiSizedFont::sizeStrike(const GdiFontSpec& spec) {
  FT_Face face = face_.get();
  if (face->num_fixed_sizes <= 0) return false;
  // Bitmap faces cannot scale: the strike nearest the request, the smaller one on a tie.
  const bool byCell = spec.height > 0;
  const int wanted = spec.height == 0 ? 16 : std::abs(spec.height);
  int best = 0;
  int bestDistance = INT32_MAX;
  for (int i = 0; i < face->num_fixed_sizes; ++i) {
    const FT_Bitmap_Size& strike = face->available_sizes[i];
    const int strikeSize = byCell ? strike.height : int((strike.y_ppem + 32) >> 6);
    const int distance = std::abs(strikeSize - wanted);
    if (distance < bestDistance ||
        (distance == bestDistance && strikeSize < face->available_sizes[best].height)) {
      best = i;
      bestDistance = distance;
    }
  }
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

bool GdiSizedFont::loadGlyph(char32_t codePoint) {
  FT_Face face = face_.get();
  const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
  const FT_UInt glyph = surrogate ? 0 : FT_Get_Char_Index(face, FT_ULong(codePoint));
  if (FT_Load_Glyph(face, glyph, FT_LOAD_DEFAULT) != 0) return false;
  FT_GlyphSlot slot = face->glyph;
  if (synthesizeItalic_ && slot->format == FT_GLYPH_FORMAT_OUTLINE) FT_GlyphSlot_Oblique(slot);
  if (synthesizeBold_) FT_GlyphSlot_Embolden(slot);
  return true;
}

int GdiSizedFont::advance(char32_t codePoint) {
  if (auto it = advances_.find(codePoint); it != advances_.end()) return it->second;
  // A glyph that cannot be loaded takes no room and draws nothing.
  int pixels = 0;
  if (loadGlyph(codePoint)) pixels = static_cast<int>((face_->glyph->advance.x + 32) >> 6);
  advances_.emplace(codePoint, pixels);
  return pixels;
}

int GdiSizedFont::fitCount(std::u16string_view run, int maxExtent) {
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

int64_t GdiSizedFont::extent(std::u16string_view run) {
  int64_t total = 0;
  forEachCodePoint(run, [&](char32_t codePoint, int) {
    total += advance(codePoint);
    return true;
  });
  return total;
}

void GdiSizedFont::draw(std::u16string_view run, int x, int y, uint32_t colorRef,
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
        blit(slot->bitmap, int(pen + slot->bitmap_left), int(baseline - slot->bitmap_top), colorRef,
             surface);
      }
    }
    pen += step;
    return true;
  });
}

}  // namespace kfp::linux_backend
