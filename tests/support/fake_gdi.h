#pragma once
// A scripted GDI-style backend: every operation can be made to fail or return chosen data, and
// every object it hands out is counted so that tests can check that all of them were released.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/gdi.h"

namespace kfp::testing {

struct FakeTextOut {
  int x = 0;
  int y = 0;
  std::u16string text;
};

class FakeGdi : public Gdi {
 public:
  // --- Script -----------------------------------------------------------------------------------
  bool failCreateFont = false;
  // Index (0-based, counting every createCompatibleDC call) of the call that fails; -1: none.
  int failDeviceContextCall = -1;
  bool failDibSection = false;
  bool dibWithoutPixels = false;
  bool failSelectFont = false;
  // Index (0-based, counting every selectFont call) of the selection that fails; -1: none.
  int failSelectFontCall = -1;
  bool failSelectBitmap = false;
  bool failTextMetrics = false;
  bool failTextExtent = false;
  // Index (0-based) of the textOut call that fails; -1: none.
  int failTextOutCall = -1;
  // What getTextFace returns when not 0: that value instead of the copied length.
  int textFaceResult = 0;
  // The face the backend "selects" for a requested font; by default the requested name itself.
  std::function<std::u16string(const GdiFontRequest&)> selectFace;
  GdiTextMetrics metrics{10, 0};
  // Pixel advance of one code unit; fit counts and drawn run widths follow from it.
  std::function<int(char16_t)> unitWidth = [](char16_t) { return 10; };
  // Colour painted over each drawn code unit's cell, B, G, R; default: the context's text colour.
  bool useInkOverride = false;
  uint8_t inkBlue = 0, inkGreen = 0, inkRed = 0;

  // --- Record -----------------------------------------------------------------------------------
  std::vector<GdiFontRequest> createdFonts;
  std::vector<FakeTextOut> textOuts;
  int deviceContextCalls = 0;
  int selectFontCalls = 0;
  // The maximum extent of every getTextExtentExPoint call, in call order.
  std::vector<int> extentLimits;
  int flushes = 0;
  int liveFonts = 0;
  int liveDeviceContexts = 0;
  int liveBitmaps = 0;
  // Selections not yet restored, over all contexts.
  int openSelections = 0;

  // The number of code units of the run that fit within maxExtent by unitWidth.
  int fitCount(std::u16string_view run, int maxExtent) const;
  bool allReleased() const {
    return liveFonts == 0 && liveDeviceContexts == 0 && liveBitmaps == 0 && openSelections == 0;
  }

  // --- Gdi --------------------------------------------------------------------------------------
  std::unique_ptr<GdiFont> createFont(const GdiFontRequest& request) override;
  std::unique_ptr<GdiDeviceContext> createCompatibleDC() override;
  std::unique_ptr<GdiBitmap> createDibSection(GdiDeviceContext& dc, uint32_t width,
                                              uint32_t height) override;
  bool equalIgnoringCase(std::u16string_view a, std::u16string_view b) override;
};

}  // namespace kfp::testing
