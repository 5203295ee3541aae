#pragma once
// Drawing a measured layout into an A8 coverage bitmap.

#include <cstdint>
#include <vector>

#include "layout/layout_result.h"

namespace kfp {

class Gdi;
class PlatformServices;

constexpr uint32_t kMaxBitmapSide = 16384;
constexpr uint64_t kMaxBitmapArea = 33554432;

// The bitmap size rule: ceil(a * b) in 32-bit float, truncated through 64 bits, stored as u32.
uint32_t pixelExtent(float a, float b);
bool bitmapSizeAllowed(uint32_t pixelWidth, uint32_t pixelHeight);

// True when drawn: pixels then holds pixelHeight rows of pixelWidth coverage bytes.
bool rasterizeLayout(const PlatformServices& platform, const LayoutResult& layout, float width,
                     float dpiScale, std::vector<uint8_t>& pixels, uint32_t& pixelWidth,
                     uint32_t& pixelHeight);

bool rasterizeGdiLayout(Gdi& gdi, const LayoutResult& layout, std::vector<uint8_t>& pixels,
                        uint32_t& pixelWidth, uint32_t& pixelHeight);

}  // namespace kfp
