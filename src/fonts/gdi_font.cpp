#include "fonts/gdi_font.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace kfp {
namespace {

// The face-name buffer of the classic API: 31 code units plus the terminating zero.
constexpr int kFaceBufferSize = static_cast<int>(kMaxGdiFaceNameLength) + 1;

// The face the backend actually selected for `font`, empty when it cannot be read.
std::u16string selectedFace(Gdi& gdi, GdiFont& font) {
  std::unique_ptr<GdiDeviceContext> dc = gdi.createCompatibleDC();
  if (!dc) return {};
  // A failed selection leaves the context's default font in place; reading its name would check
  // the wrong face, so that counts as unreadable.
  if (!dc->selectFont(font)) return {};
  std::array<char16_t, kFaceBufferSize> buffer{};
  const int copied = dc->getTextFace(buffer.data(), kFaceBufferSize);
  dc->restoreFont();
  if (copied <= 0) return {};
  const size_t limit = std::min<size_t>(static_cast<size_t>(copied), buffer.size());
  const auto end = std::find(buffer.begin(), buffer.begin() + limit, u'\0');
  return std::u16string(buffer.begin(), end);
}

}  // namespace

std::unique_ptr<GdiFont> createGdiFont(Gdi& gdi, std::u16string_view familyName, int32_t weight,
                                       bool italic, float fontSize, float dpiScale) {
  if (familyName.empty() || familyName.size() > kMaxGdiFaceNameLength) return nullptr;

  GdiFontRequest request;
  request.height = -static_cast<int32_t>(ceilToPixels(fontSize * dpiScale));
  request.weight = weight;
  request.italic = italic;
  request.faceName = std::u16string(familyName);
  std::unique_ptr<GdiFont> font = gdi.createFont(request);
  if (!font) return nullptr;

  // Backends substitute another face for an unknown name without saying so; only the face that
  // was really selected under the requested name is accepted.
  const std::u16string face = selectedFace(gdi, *font);
  if (face.empty() || !gdi.equalIgnoringCase(familyName, face)) return nullptr;
  return font;
}

int64_t ceilToPixels(float value) {
  return static_cast<int64_t>(std::ceil(value));
}

}  // namespace kfp
