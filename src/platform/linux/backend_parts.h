#pragma once
// The pieces the Linux backend is assembled from; each lives in its own file.

#include <cstdint>
#include <memory>

#include "platform/gdi.h"
#include "platform/graphics.h"
#include "platform/linux/face_store.h"
#include "platform/linux/font_index.h"

namespace kfp::linux_backend {

// graphics.cpp: bitmaps and render targets that draw LinuxTextLayouts with FreeType.
std::shared_ptr<Graphics> createLinuxGraphics();

// gdi.cpp: the GDI-style backend over every installed face, bitmap strikes included; it keeps its
// sized faces until dropGdiSizedFaces.
std::unique_ptr<Gdi> createLinuxGdi(std::shared_ptr<FaceStore> store,
                                    std::shared_ptr<const FontIndex> index);
void dropGdiSizedFaces(Gdi& gdi);

// process_memory.cpp
uint64_t readPrivateBytes();
void releaseFreeHeap();

}  // namespace kfp::linux_backend
