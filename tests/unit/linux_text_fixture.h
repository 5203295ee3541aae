#pragma once
// Builds Linux text formats and layouts over installed font files, without the font index: each
// collection is made of the given files, opened directly.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/fonts/font_collection.h"
#include "platform/linux/fonts/font_index.h"
#include "platform/linux/text/laid_out_text.h"
#include "platform/linux/text/text_engine.h"
#include "platform/linux/text/text_format.h"

namespace kfp::linux_backend::fixture {

inline const char kDejaVuSans[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
inline const char kDejaVuSansBold[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
inline const char kInterVariable[] = "/usr/share/fonts/truetype/inter-vf/Inter-roman.var.ttf";
inline const char kNotoArabic[] = "/usr/share/fonts/truetype/noto/NotoSansArabic-Regular.ttf";
inline const char kNotoDevanagari[] =
    "/usr/share/fonts/truetype/noto/NotoSansDevanagari-Regular.ttf";
inline const char kNotoColorEmoji[] = "/usr/share/fonts/truetype/noto/NotoColorEmoji.ttf";

struct FontFile {
  const char* path;
  int weight = kNormalWeight;
  int style = kStyleNormal;
};

// A text format over the collection as the core asks for one, wrapping with emergency breaks.
inline std::unique_ptr<TextFormat> makeFormat(LinuxTextEngine& engine,
                                              std::shared_ptr<const FontCollection> fonts,
                                              std::u16string_view family, float size,
                                              int weight = kNormalWeight,
                                              int style = kStyleNormal) {
  TextFormatDescription description;
  description.familyName = family;
  description.fontCollection = std::move(fonts);
  description.weight = weight;
  description.style = style;
  description.fontSize = size;
  description.localeName = u"en-us";
  std::unique_ptr<TextFormat> result = engine.createTextFormat(description);
  if (result) result->setWordWrapping(WordWrapping::kEmergencyBreak);
  return result;
}

inline std::unique_ptr<LinuxTextLayout> makeLayout(LinuxTextEngine& engine,
                                                   std::u16string_view text,
                                                   const TextFormat& format, float width) {
  std::unique_ptr<TextLayout> layout = engine.createTextLayout(text, format, width, 100000.0f);
  return std::unique_ptr<LinuxTextLayout>(dynamic_cast<LinuxTextLayout*>(layout.release()));
}

class LinuxTextFixture {
 public:
  LinuxTextFixture() : faces_(FaceStore::create()), engine_(faces_, FontIndex::fromRecords({})) {}

  static bool available(const char* path) { return std::filesystem::exists(path); }

  std::shared_ptr<const LinuxFontCollection> collection(const std::vector<FontFile>& files) {
    std::vector<std::shared_ptr<FaceHandle>> handles;
    std::vector<std::shared_ptr<LoadedFace>> faces;
    std::vector<FontRecord> records(files.size());
    std::vector<const FontRecord*> recordPointers;
    for (size_t i = 0; i < files.size(); ++i) {
      records[i].path = files[i].path;
      records[i].weight = files[i].weight;
      records[i].style = files[i].style;
      std::shared_ptr<FaceHandle> handle = faces_->handle(records[i]);
      std::shared_ptr<LoadedFace> face = handle ? faces_->open(*handle) : nullptr;
      if (!face) return nullptr;
      handles.push_back(std::move(handle));
      faces.push_back(std::move(face));
      recordPointers.push_back(&records[i]);
    }
    return std::make_shared<LinuxFontCollection>(std::move(handles), faces, recordPointers);
  }

  std::unique_ptr<TextFormat> format(std::shared_ptr<const LinuxFontCollection> fonts,
                                     std::u16string_view family, float size,
                                     int weight = kNormalWeight, int style = kStyleNormal) {
    return makeFormat(engine_, std::move(fonts), family, size, weight, style);
  }

  std::unique_ptr<LinuxTextLayout> layout(std::u16string_view text, const TextFormat& format,
                                          float width) {
    return makeLayout(engine_, text, format, width);
  }

  LinuxTextEngine& engine() { return engine_; }
  FaceStore& faces() { return *faces_; }

 private:
  std::shared_ptr<FaceStore> faces_;
  LinuxTextEngine engine_;
};

}  // namespace kfp::linux_backend::fixture
