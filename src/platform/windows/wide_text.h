#pragma once
// Passing our UTF-16 text and axis values to the platform as they are stored.

#include <windows.h>

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "platform/font_types.h"
#include "platform/windows/dwrite_compat.h"

namespace kfp::windows_backend {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 text is passed to the platform as is");

// A zero-terminated copy for calls that take C strings.
inline std::wstring toWide(std::u16string_view text) {
  return std::wstring(text.begin(), text.end());
}
inline const WCHAR* asWide(const char16_t* text) {
  return reinterpret_cast<const WCHAR*>(text);
}

static_assert(sizeof(AxisValue) == sizeof(DWRITE_FONT_AXIS_VALUE) &&
                  offsetof(AxisValue, tag) == offsetof(DWRITE_FONT_AXIS_VALUE, axisTag) &&
                  offsetof(AxisValue, value) == offsetof(DWRITE_FONT_AXIS_VALUE, value),
              "axis values are passed to DirectWrite as they are stored");
inline const DWRITE_FONT_AXIS_VALUE* asAxisValues(std::span<const AxisValue> values) {
  return reinterpret_cast<const DWRITE_FONT_AXIS_VALUE*>(values.data());
}

}  // namespace kfp::windows_backend
