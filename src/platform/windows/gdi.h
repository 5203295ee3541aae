#pragma once
// The GDI backend: fonts by family name, metrics, fit counts and drawn lines.

#include <memory>

#include "platform/gdi.h"

namespace kfp::windows_backend {

std::unique_ptr<Gdi> createWindowsGdi();

}  // namespace kfp::windows_backend
