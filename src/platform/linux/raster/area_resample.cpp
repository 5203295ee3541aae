#include "platform/linux/raster/area_resample.h"

#include <algorithm>
#include <cmath>

namespace kfp::linux_backend {
namespace {

uint32_t scaledExtent(uint32_t length, float scale, float offset) {
  return static_cast<uint32_t>(std::ceil(offset + float(length) * scale - 1e-4f));
}

// out[d * outStep] = mean of in over the source span destination cell d covers.
template <class In>
void resampleLine(const In* in, uint32_t inLength, size_t inStep, float scale, float offset,
                  float* out, uint32_t outLength, size_t outStep) {
  const float inverse = 1.0f / scale;
  for (uint32_t d = 0; d < outLength; ++d) {
    const float start = std::max(0.0f, (float(d) - offset) * inverse);
    const float end = std::min(float(inLength), (float(d) + 1.0f - offset) * inverse);
    float sum = 0;
    for (uint32_t i = static_cast<uint32_t>(start); float(i) < end && i < inLength; ++i) {
      const float weight = std::min(end, float(i + 1)) - std::max(start, float(i));
      if (weight > 0) sum += weight * float(in[i * inStep]);
    }
    out[d * outStep] = sum * scale;
  }
}

}  // namespace

void resampleArea(const A8View& source, float scale, float offsetX, float offsetY,
                  std::vector<float>& scratch, std::vector<uint8_t>& destination, uint32_t* width,
                  uint32_t* height) {
  const uint32_t outWidth = scaledExtent(source.width, scale, offsetX);
  const uint32_t outHeight = scaledExtent(source.height, scale, offsetY);
  *width = outWidth;
  *height = outHeight;
  destination.assign(size_t(outWidth) * outHeight, 0);
  if (outWidth == 0 || outHeight == 0) return;

  // Rows first: source.height rows of outWidth columns.
  scratch.resize(size_t(source.height) * outWidth + outHeight);
  for (uint32_t y = 0; y < source.height; ++y) {
    resampleLine(source.pixels + size_t(y) * source.stride, source.width, 1, scale, offsetX,
                 scratch.data() + size_t(y) * outWidth, outWidth, 1);
  }
  float* column = scratch.data() + size_t(source.height) * outWidth;
  for (uint32_t x = 0; x < outWidth; ++x) {
    resampleLine(scratch.data() + x, source.height, outWidth, scale, offsetY, column, outHeight, 1);
    for (uint32_t y = 0; y < outHeight; ++y) {
      destination[size_t(y) * outWidth + x] =
          static_cast<uint8_t>(std::clamp(std::lround(column[y]), 0L, 255L));
    }
  }
}

}  // namespace kfp::linux_backend
