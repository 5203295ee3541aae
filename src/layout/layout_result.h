#pragma once
// The outcome of laying out one text for one font. Move-only: it owns its text layout.

#include <cstdint>
#include <memory>
#include <string>

#include "fonts/resolved_font.h"
#include "platform/text_engine.h"

namespace kfp {

struct LayoutResult {
  LayoutResult() = default;
  LayoutResult(LayoutResult&&) = default;
  LayoutResult& operator=(LayoutResult&&) = default;
  LayoutResult(const LayoutResult&) = delete;
  LayoutResult& operator=(const LayoutResult&) = delete;

  bool resolved = false;
  std::string error;
  FontKind kind = FontKind::DirectWrite;
  float height = 0;  // DIPs, height * dpiScale is a whole number of pixels
  uint32_t lineCount = 0;
  // Gdi kind only: everything needed to build the same font and lines again for drawing.
  std::u16string text;
  std::u16string familyName;
  int32_t weight = kNormalWeight;
  bool italic = false;
  float fontSize = 0;
  float width = 0;
  float dpiScale = 1.0f;
  // DirectWrite kind only.
  std::unique_ptr<TextLayout> textLayout;
};

}  // namespace kfp
