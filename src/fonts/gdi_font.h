#pragma once
// GDI-style font creation with its face check, shared by the lookup's probe, the GDI-style
// measurement and drawing, so that what is probed is what is measured and drawn.

#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/gdi.h"

namespace kfp {

constexpr size_t kMaxGdiFaceNameLength = 31;

// ceil(value) in 32-bit float, truncated through a signed 64-bit integer.
int64_t ceilToPixels(float value);

// A font whose face the backend really selected (no substitutes), or nullptr.
std::unique_ptr<GdiFont> createGdiFont(Gdi& gdi, std::u16string_view familyName, int32_t weight,
                                       bool italic, float fontSize, float dpiScale);

}  // namespace kfp
