#pragma once
// Direct2D render targets on WIC bitmaps behind the seam's drawing interface.

#include <memory>

#include "base/error.h"
#include "platform/graphics.h"

namespace kfp::windows_backend {

// The Direct2D factory and the WIC imaging factory; a failure code when either is missing.
HResult createWindowsGraphics(std::shared_ptr<Graphics>* out);

}  // namespace kfp::windows_backend
