// The GDI-style line breaker on arbitrary text, widths and fit counts: it must always end, and
// its lines must lie inside the text, in order, without overlap, none but empty ones of length 0.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "layout/gdi_layout.h"
#include "support/fake_gdi.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kfp;
  if (size < 3) return 0;
  testing::FakeGdi gdi;
  const uint8_t narrow = data[0] % 16, wide = data[1] % 64;
  const int32_t maxWidth = data[2] % 128;
  gdi.unitWidth = [&](char16_t c) { return (c & 1) ? wide : narrow; };
  std::u16string text;
  for (size_t i = 3; i + 1 < size; i += 2) text.push_back(char16_t(data[i] | data[i + 1] << 8));

  auto dc = gdi.createCompatibleDC();
  auto font = gdi.createFont({.height = -12, .faceName = u"Fuzz"});
  if (!dc || !font || !dc->selectFont(*font)) std::abort();
  GdiLines lines;
  if (!breakGdiLines(*dc, text, maxWidth, &lines)) std::abort();
  dc->restoreFont();

  if (lines.lines.empty() || lines.lineHeight < 1) std::abort();
  uint64_t end = 0;
  for (const GdiLine& line : lines.lines) {
    if (line.start < end || line.start + line.length > text.size()) std::abort();
    end = line.start + line.length;
  }
  return 0;
}
