#pragma once
// Laying out one request's text for one font and measuring it.

#include <string>

#include "layout/layout_result.h"

namespace kfp {

class FontRegistry;
class PlatformServices;
class ResolvedFontCache;

constexpr size_t kMaxTextLength = 200;  // UTF-16 code units
constexpr float kMinFontSize = 4, kMaxFontSize = 256;
constexpr float kMinWidth = 1, kMaxWidth = 8192;
constexpr float kMinDpiScale = 0.5f, kMaxDpiScale = 8;
constexpr float kMaxLayoutHeight = 100000.0f;

// Never raises for a platform failure: every failure is an error code in the result.
LayoutResult measureLayout(const PlatformServices& platform, const FontRegistry& registry,
                           ResolvedFontCache& fonts, const std::u16string& fontId,
                           const std::u16string& text, float fontSize, float width, float dpiScale);

// ceil(max(height, 1) * dpiScale) / dpiScale in 32-bit float arithmetic.
float roundLayoutHeight(float height, float dpiScale);

// The height in DIPs of a whole number of device pixels, such that the rasterizer's
// ceil(height * dpiScale) gives back exactly that number. The plain quotient is sometimes one ulp
// high (61 / 0.51f comes back as 62 pixels), which would add an empty row to the bitmap; it is
// stepped down until it round-trips.
float heightOfPixels(float pixels, float dpiScale);

}  // namespace kfp
