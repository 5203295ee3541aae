#pragma once
// The result codes the platform seam reports failure with. Every seam operation returns one (or
// false, or nullptr, where the operation has nothing to say beyond failing); only allocation
// failure throws.

#include <cstdint>

namespace kfp {

using HResult = int32_t;

constexpr HResult kOk = 0;
constexpr HResult kFail = static_cast<HResult>(0x80004005u);
constexpr HResult kOutOfMemory = static_cast<HResult>(0x8007000Eu);
constexpr HResult kInvalidArgument = static_cast<HResult>(0x80070057u);

inline bool failed(HResult hr) {
  return hr < 0;
}

}  // namespace kfp
