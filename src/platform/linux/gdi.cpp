#include <unicode/uchar.h>

#include <algorithm>
#include <optional>

#include "platform/linux/backend_parts.h"
#include "platform/linux/gdi_device_context.h"
#include "platform/linux/gdi_face_choice.h"
#include "platform/linux/gdi_sized_font.h"

namespace kfp::linux_backend {
namespace {

class LinuxGdi : public Gdi {
 public:
  LinuxGdi(std::shared_ptr<FreeTypeLibrary> library, std::shared_ptr<const FontIndex> index)
      : library_(std::move(library)), index_(std::move(index)) {}

  std::unique_ptr<GdiFont> createFont(const GdiFontRequest& request) override {
    if (!library_ || !index_) return nullptr;
    if (std::optional<GdiFaceChoice> choice =
            chooseGdiFace(*index_, request.faceName, request.weight, request.italic)) {
      // A face of the requested family that cannot be opened fails here, not mid-measurement.
      return GdiSizedFont::open(library_, index_->record(choice->recordId),
                                std::move(choice->familyName), request);
    }
    // Like the original platform, an unknown family still yields a font, in a substitute face
    // whose name tells the caller what happened. Callers mostly just read that name and drop the
    // font, so its face is only opened if it is used.
    std::optional<GdiFaceChoice> substitute =
        chooseGdiSubstitute(*index_, index_->sansFamilies(), request.weight, request.italic);
    if (!substitute) return nullptr;
    return GdiSizedFont::deferred(library_, index_->record(substitute->recordId),
                                  std::move(substitute->familyName), request);
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

 private:
  std::shared_ptr<FreeTypeLibrary> library_;
  std::shared_ptr<const FontIndex> index_;
};

}  // namespace

std::unique_ptr<Gdi> createLinuxGdi(std::shared_ptr<FreeTypeLibrary> library,
                                    std::shared_ptr<const FontIndex> index) {
  return std::make_unique<LinuxGdi>(std::move(library), std::move(index));
}

}  // namespace kfp::linux_backend
