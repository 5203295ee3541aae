#pragma once
// Scaling of A8 coverage images by area averaging: each destination pixel is the mean coverage of
// the source area it covers, so ink is preserved when a colour-bitmap strike is scaled down.

#include <cstdint>
#include <vector>

namespace kfp::linux_backend {

struct A8View {
  const uint8_t* pixels = nullptr;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t stride = 0;
};

// Scales `source` by `scale` (> 0) with its top-left corner placed at (offsetX, offsetY)
// destination pixels, 0 <= offset < 1. The destination is just large enough to hold the result;
// its size goes to width and height, its rows are `width` bytes. `scratch` is reused between calls.
void resampleArea(const A8View& source, float scale, float offsetX, float offsetY,
                  std::vector<float>& scratch, std::vector<uint8_t>& destination, uint32_t* width,
                  uint32_t* height);

}  // namespace kfp::linux_backend
