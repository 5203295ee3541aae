#include "platform/linux/gdi/gdi.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <optional>

#include "platform/linux/gdi/gdi_device_context.h"
#include "platform/linux/gdi/gdi_face_cache.h"
#include "platform/linux/gdi/gdi_face_choice.h"
#include "platform/linux/gdi/gdi_sized_font.h"

namespace kfp::linux_backend {
namespace {

class LinuxGdi : public Gdi {
 public:
  LinuxGdi(std::shared_ptr<FaceStore> store, std::shared_ptr<const FontIndex> index)
      : index_(index), faces_(std::make_shared<GdiFaceCache>(std::move(store), index)) {}

  std::unique_ptr<GdiFont> createFont(const GdiFontRequest& request) override {
    if (!index_) return nullptr;
    if (std::optional<GdiFaceChoice> choice =
            chooseGdiFace(*index_, request.faceName, request.weight, request.italic)) {
      // A face of the requested family that cannot be opened fails here, not mid-measurement.
      std::shared_ptr<GdiSizedFace> face = faces_->face(choice->recordId, request);
      if (!face) return nullptr;
      return std::make_unique<GdiSizedFont>(std::move(choice->familyName), [face] { return face; });
    }
    // Like the original platform, an unknown family still yields a font, in a substitute face
    // whose name tells the caller what happened. Callers mostly just read that name and drop the
    // font, so its face is only looked up if it is used.
    std::optional<GdiFaceChoice> substitute =
        chooseGdiSubstitute(*index_, index_->sansFamilies(), request.weight, request.italic);
    if (!substitute) return nullptr;
    return std::make_unique<GdiSizedFont>(std::move(substitute->familyName),
                                          [faces = faces_, recordId = substitute->recordId,
                                           request] { return faces->face(recordId, request); });
  }

  std::unique_ptr<GdiDeviceContext> createCompatibleDC() override {
    return std::make_unique<GdiMemoryContext>();
  }

  std::unique_ptr<GdiBitmap> createDibSection(GdiDeviceContext&, uint32_t width,
                                              uint32_t height) override {
    return GdiDibSection::create(width, height);
  }

  bool equalIgnoringCase(std::u16string_view a, std::u16string_view b) override {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char16_t x, char16_t y) {
      return x == y || u_toupper(UChar32(x)) == u_toupper(UChar32(y));
    });
  }

  void dropSizedFaces() { faces_->clear(); }

 private:
  std::shared_ptr<const FontIndex> index_;
  std::shared_ptr<GdiFaceCache> faces_;
};

}  // namespace

std::unique_ptr<Gdi> createLinuxGdi(std::shared_ptr<FaceStore> store,
                                    std::shared_ptr<const FontIndex> index) {
  if (!store) return nullptr;
  return std::make_unique<LinuxGdi>(std::move(store), std::move(index));
}

void dropGdiSizedFaces(Gdi& gdi) {
  if (auto* linuxGdi = dynamic_cast<LinuxGdi*>(&gdi)) linuxGdi->dropSizedFaces();
}

}  // namespace kfp::linux_backend
