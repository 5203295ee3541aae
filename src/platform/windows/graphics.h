#pragma once
// Direct2D render targets on WIC bitmaps behind the seam's drawing interface.

#include <memory>

#include "platform/graphics.h"

namespace kfp::windows_backend {

// On the Direct2D factory and the WIC imaging factory; nullptr when either is missing.
std::shared_ptr<Graphics> createWindowsGraphics();

}  // namespace kfp::windows_backend
