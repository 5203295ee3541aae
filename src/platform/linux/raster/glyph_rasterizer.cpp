#include "platform/linux/raster/glyph_rasterizer.h"

#include FT_MULTIPLE_MASTERS_H
#include FT_OUTLINE_H

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/linux/raster/area_resample.h"

namespace kfp::linux_backend {
namespace {

// The slant of simulated oblique faces.
const float kObliqueShear = std::tan(20.0f * 3.14159265f / 180.0f);
// Simulated bold thickens stems by this fraction of the pixel size, as FreeType's own
// FT_GlyphSlot_Embolden does; the layout widens advances by the same amount.
constexpr float kBoldStrength = 1.0f / 24.0f;

FT_Fixed toFixed(float value) {
  return static_cast<FT_Fixed>(std::lround(value * 65536.0f));
}

}  // namespace

void GlyphRasterizer::begin(FT_Face face, std::span<const float> coords, uint32_t sizeIn64ths,
                            uint32_t simulations) {
  face_ = face;
  coords_ = coords;
  pixelSize_ = float(sizeIn64ths) / 64.0f;
  simulations_ = simulations;
  setUp_ = false;
  usable_ = false;
}

void GlyphRasterizer::end() {
  if (setUp_ && usable_ && !useStrike_) FT_Set_Transform(face_, nullptr, nullptr);
  setUp_ = false;
}

bool GlyphRasterizer::setUpFace() {
  setUp_ = true;
  usable_ = false;
  if (!face_ || pixelSize_ <= 0) return false;
  // The face is shared by every format using it: its coordinates follow this draw's.
  if (FT_HAS_MULTIPLE_MASTERS(face_) && !coords_.empty()) {
    fixedCoords_.resize(coords_.size());
    for (size_t i = 0; i < coords_.size(); ++i) fixedCoords_[i] = toFixed(coords_[i]);
    FT_Set_Var_Design_Coordinates(face_, static_cast<FT_UInt>(fixedCoords_.size()),
                                  fixedCoords_.data());
  }
  color_ = FT_HAS_COLOR(face_);
  if (FT_IS_SCALABLE(face_)) {
    // An integer size, then the exact one through the transform: FreeType rounds fractional sizes
    // to whole pixels for TrueType fonts that ask for integer ppem.
    const float ppem = std::max(1.0f, std::ceil(pixelSize_));
    if (FT_Set_Char_Size(face_, 0, static_cast<FT_F26Dot6>(ppem * 64), 72, 72)) return false;
    outlineScale_ = pixelSize_ / ppem;
    useStrike_ = false;
  } else if (FT_HAS_FIXED_SIZES(face_) && face_->num_fixed_sizes > 0) {
    // The smallest strike at least as large as the request, else the largest.
    int best = -1;
    int largest = 0;
    for (int i = 0; i < face_->num_fixed_sizes; ++i) {
      const FT_Pos ppem = face_->available_sizes[i].y_ppem;
      if (ppem > face_->available_sizes[largest].y_ppem) largest = i;
      if (ppem >= FT_Pos(pixelSize_ * 64) &&
          (best < 0 || ppem < face_->available_sizes[best].y_ppem)) {
        best = i;
      }
    }
    if (best < 0) best = largest;
    if (FT_Select_Size(face_, best)) return false;
    const float strikePpem = float(face_->available_sizes[best].y_ppem) / 64.0f;
    if (strikePpem <= 0) return false;
    strikeScale_ = pixelSize_ / strikePpem;
    useStrike_ = true;
  } else {
    return false;
  }
  usable_ = true;
  return true;
}

bool GlyphRasterizer::render(uint32_t glyphId, uint32_t phase, GlyphImage* image) {
  if (!setUp_) setUpFace();
  if (!usable_) return false;
  return useStrike_ ? renderStrike(glyphId, phase, image) : renderOutline(glyphId, phase, image);
}

bool GlyphRasterizer::renderOutline(uint32_t glyphId, uint32_t phase, GlyphImage* image) {
  const float shear = (simulations_ & kSimulateOblique) ? kObliqueShear : 0.0f;
  FT_Matrix matrix = {toFixed(outlineScale_), toFixed(shear * outlineScale_), 0,
                      toFixed(outlineScale_)};
  FT_Vector delta = {static_cast<FT_Pos>(phase * 64 / kSubpixelPhases), 0};
  FT_Set_Transform(face_, &matrix, &delta);

  FT_Int32 flags = FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP;
  if (color_) flags |= FT_LOAD_COLOR;
  if (FT_Load_Glyph(face_, glyphId, flags)) return false;
  FT_GlyphSlot slot = face_->glyph;
  if (slot->format == FT_GLYPH_FORMAT_OUTLINE && (simulations_ & kSimulateBold)) {
    const auto strength = static_cast<FT_Pos>(std::lround(pixelSize_ * kBoldStrength * 64));
    FT_Outline_EmboldenXY(&slot->outline, strength, strength);
  }
  if (slot->format != FT_GLYPH_FORMAT_BITMAP && FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL)) {
    return false;
  }
  return copySlotBitmap(image);
}

bool bitmapCoverage(const FT_Bitmap& bitmap, std::vector<uint8_t>& coverage) {
  const uint32_t width = bitmap.width;
  const uint32_t height = bitmap.rows;
  coverage.resize(size_t(width) * height);
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t* row = bitmap.buffer + ptrdiff_t(y) * bitmap.pitch;
    uint8_t* out = coverage.data() + size_t(y) * width;
    switch (bitmap.pixel_mode) {
      case FT_PIXEL_MODE_GRAY:
        if (bitmap.num_grays == 256) {
          std::memcpy(out, row, width);
        } else if (bitmap.num_grays < 2) {
          // No scale to go by: any coverage is full coverage.
          for (uint32_t x = 0; x < width; ++x) out[x] = row[x] ? 255 : 0;
        } else {
          for (uint32_t x = 0; x < width; ++x)
            out[x] = uint8_t(std::min<uint32_t>(255, row[x] * 255u / (bitmap.num_grays - 1u)));
        }
        break;
      case FT_PIXEL_MODE_MONO:
        for (uint32_t x = 0; x < width; ++x) out[x] = (row[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
        break;
      case FT_PIXEL_MODE_BGRA:
        for (uint32_t x = 0; x < width; ++x) out[x] = row[4 * x + 3];
        break;
      default:
        return false;
    }
  }
  return true;
}

// Coverage of the slot's bitmap into image_, whatever its pixel mode.
bool GlyphRasterizer::copySlotBitmap(GlyphImage* image) {
  const FT_GlyphSlot slot = face_->glyph;
  if (!bitmapCoverage(slot->bitmap, image_)) return false;
  image->left = slot->bitmap_left;
  image->top = slot->bitmap_top;
  image->width = slot->bitmap.width;
  image->height = slot->bitmap.rows;
  image->pixels = image_.data();
  return true;
}

bool GlyphRasterizer::renderStrike(uint32_t glyphId, uint32_t phase, GlyphImage* image) {
  if (FT_Load_Glyph(face_, glyphId, FT_LOAD_COLOR)) return false;
  if (face_->glyph->format != FT_GLYPH_FORMAT_BITMAP) return false;
  GlyphImage strike;
  if (!copySlotBitmap(&strike)) return false;
  strikeAlpha_.swap(image_);

  // Place the scaled strike image with its fractional offsets folded into the resampling.
  const float left = float(strike.left) * strikeScale_ + float(phase) / kSubpixelPhases;
  const float top = float(strike.top) * strikeScale_;
  const float leftPixel = std::floor(left);
  const float topPixel = std::ceil(top);
  const A8View source{strikeAlpha_.data(), strike.width, strike.height, strike.width};
  uint32_t width = 0, height = 0;
  resampleArea(source, strikeScale_, left - leftPixel, topPixel - top, rowPass_, image_, &width,
               &height);
  image->left = static_cast<int32_t>(leftPixel);
  image->top = static_cast<int32_t>(topPixel);
  image->width = width;
  image->height = height;
  image->pixels = image_.data();
  return true;
}

}  // namespace kfp::linux_backend
