#pragma once
// The GDI-style backend over every installed face, bitmap strikes included.

#include <memory>

#include "platform/gdi.h"
#include "platform/linux/files/face_store.h"
#include "platform/linux/fonts/font_index.h"

namespace kfp::linux_backend {

// Keeps its sized faces until dropGdiSizedFaces.
std::unique_ptr<Gdi> createLinuxGdi(std::shared_ptr<FaceStore> store,
                                    std::shared_ptr<const FontIndex> index);
void dropGdiSizedFaces(Gdi& gdi);

}  // namespace kfp::linux_backend
