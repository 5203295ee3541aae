#pragma once
// The Windows backend of the platform seam (DirectWrite, Direct2D/WIC, GDI). The caller has
// initialised COM for the multithreaded apartment on the thread that uses the backend.

#include <memory>

#include "platform/backend.h"

namespace kfp {

std::unique_ptr<Backend> createWindowsBackend();

}  // namespace kfp
