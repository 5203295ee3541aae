#pragma once
// A GDI-style font: one installed face opened at a pixel size, with the classic cell metrics,
// whole-pixel glyph advances and glyph drawing onto a BGRX surface. A deferred font knows its face
// name at once and opens the face on first use, so that a substitute which the caller only checks
// by name costs no file access.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/gdi.h"
#include "platform/linux/c_handles.h"
#include "platform/linux/font_record.h"
#include "platform/linux/gdi_glyph_bitmap.h"
#include "platform/linux/loaded_face.h"

namespace kfp::linux_backend {

class GdiSizedFont : public GdiFont {
 public:
  // nullptr when the face cannot be opened or sized.
  static std::unique_ptr<GdiSizedFont> open(std::shared_ptr<FreeTypeLibrary> library,
                                            const FontRecord& record, std::u16string faceName,
                                            const GdiFontRequest& request);
  // Opens the face on the first ready(); never nullptr for a usable library.
  static std::unique_ptr<GdiSizedFont> deferred(std::shared_ptr<FreeTypeLibrary> library,
                                                const FontRecord& record, std::u16string faceName,
                                                const GdiFontRequest& request);

  const std::u16string& faceName() const { return faceName_; }
  // Opens and sizes the face if that has not been tried yet; false when it cannot be. Everything
  // below needs it to have returned true.
  bool ready();
  GdiTextMetrics metrics() const { return {ascent_ + descent_, externalLeading_}; }
  int ascent() const { return ascent_; }

  // How many code units of run fit within maxExtent pixels; a surrogate pair fits whole or not.
  int fitCount(std::u16string_view run, int maxExtent);
  // The run's width in pixels.
  int64_t extent(std::u16string_view run);
  // Draws run in colorRef (0x00BBGGRR) with the top-left corner of its cell at (x, y).
  void draw(std::u16string_view run, int x, int y, uint32_t colorRef, BgrxSurface surface);

 private:
  enum class State { kPending, kOpen, kFailed };
  GdiSizedFont(std::shared_ptr<FreeTypeLibrary> library, const FontRecord& record,
               std::u16string faceName, const GdiFontRequest& request);
  bool openFace();
  bool size();
  void sizeOutline();
  bool sizeStrike();
  // Loads the glyph of codePoint into the face's slot with the synthetic styles applied.
  bool loadGlyph(char32_t codePoint);
  int advance(char32_t codePoint);

  std::shared_ptr<FreeTypeLibrary> library_;  // outlives face_
  FtFacePtr face_;
  State state_ = State::kPending;
  std::string path_;
  FT_Long faceIndex_ = 0;  // face index with the named instance in the high 16 bits
  int32_t height_ = 0;     // the requested height, see GdiFontRequest
  std::u16string faceName_;
  int ascent_ = 0;
  int descent_ = 0;
  int externalLeading_ = 0;
  bool synthesizeBold_ = false;
  bool synthesizeItalic_ = false;
  std::unordered_map<char32_t, int> advances_;
};

}  // namespace kfp::linux_backend
