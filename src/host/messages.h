#pragma once
// The renderer's fixed reply texts, on top of the shared message catalogue.

#include <string_view>

#include "protocol/message_types.h"

namespace kfp {

constexpr std::string_view kRendererVersion = "2";
constexpr std::string_view kIdentityText = "KestFontPreviewRenderer ";
constexpr std::string_view kEmptyObjectJson = "{}";

}  // namespace kfp
