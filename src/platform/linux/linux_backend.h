#pragma once
// The Linux backend of the platform seam (fontconfig, FreeType, HarfBuzz, ICU).

#include <memory>

#include "platform/backend.h"

namespace kfp {

std::unique_ptr<Backend> createLinuxBackend();

}  // namespace kfp
