#pragma once
// The outcome of laying out one text for one font. Move-only: it owns its text layout.
//
// The core's one way to fail: lookup, layout and drawing of one font never throw for a font's own
// failure; they record the protocol's error code for that font (ResolvedFont::error,
// LayoutResult::error), and the reply carries it in that font's item. Only running out of memory
// throws, and the message loop answers it with INTERNAL_ERROR.

#include <cstdint>
#include <memory>
#include <string>
#include <variant>

#include "fonts/resolved_font.h"
#include "platform/text_engine.h"

namespace kfp {

// What the GDI-style path needs to build the same font and lines again for drawing.
struct GdiLayout {
  std::u16string text;
  std::u16string familyName;
  int32_t weight = kNormalWeight;
  bool italic = false;
  float fontSize = 0;
  float width = 0;
  float dpiScale = 1.0f;
};

struct LayoutResult {
  LayoutResult() = default;
  LayoutResult(LayoutResult&&) = default;
  LayoutResult& operator=(LayoutResult&&) = default;
  LayoutResult(const LayoutResult&) = delete;
  LayoutResult& operator=(const LayoutResult&) = delete;

  FontKind kind() const {
    return std::holds_alternative<GdiLayout>(drawing) ? FontKind::kGdi : FontKind::kDirectWrite;
  }
  // The engine's laid-out text, or null.
  const TextLayout* textLayout() const {
    const auto* layout = std::get_if<std::unique_ptr<TextLayout>>(&drawing);
    return layout ? layout->get() : nullptr;
  }
  // The GDI-style description, or null.
  const GdiLayout* gdiLayout() const { return std::get_if<GdiLayout>(&drawing); }

  bool resolved = false;
  std::string error;
  float height = 0;  // DIPs, height * dpiScale is a whole number of pixels
  uint32_t lineCount = 0;
  // What draws it, one of the two paths; nothing when it failed.
  std::variant<std::monostate, std::unique_ptr<TextLayout>, GdiLayout> drawing;
};

}  // namespace kfp
