// Parse throughput of the request JSON reader on an 8 MiB RegisterFonts text, against plain
// UTF-8 to UTF-16 conversion and a byte scan of the same bytes measured in the same run.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "base/json.h"
#include "base/utf8.h"

namespace {

constexpr size_t kTargetBytes = 8u << 20;
constexpr int kRuns = 15;

std::string makeRegisterFontsText() {
  static const char* const kStyles[] = {"Regular", "Bold", "Italic", "Bold Italic", "Light"};
  static const int kWeights[] = {400, 700, 400, 700, 300};
  std::string text = R"({"fonts":[)";
  text.reserve(kTargetBytes + 512);
  char entry[512];
  for (int i = 0; text.size() < kTargetBytes - 256; ++i) {
    const int s = i % 5;
    // Every 16th family has a non-ASCII name, every 64th an escape, as real font lists do.
    const char* family =
        i % 16 == 0 ? "Caf\xc3\xa9 Sans" : (i % 64 == 1 ? "Quote \\\"Q\\\"" : "Sans");
    // Every other descriptor is of a variable font with its axes; the rest carry only the vector.
    const char* axes =
        i % 2 == 0 ? R"("designAxesData":[{"tag":"wght","min":100,"max":900}],)" : "";
    const int n = std::snprintf(
        entry, sizeof entry,
        R"(%s{"fontId":"f%d","familyName":"%s %d","fullName":"%s %d %s","postScriptName":)"
        R"("S%d-%s","styleName":"%s",%s"designVector":[%d]})",
        i ? "," : "", i, family, i / 5, family, i / 5, kStyles[s], i / 5, kStyles[s], kStyles[s],
        axes, kWeights[s]);
    text.append(entry, static_cast<size_t>(n));
  }
  text += "]}";
  return text;
}

template <typename F>
double bestSeconds(F&& f) {
  double best = 1e9;
  for (int run = 0; run < kRuns; ++run) {
    const auto start = std::chrono::steady_clock::now();
    f();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    best = std::min(best, elapsed.count());
  }
  return best;
}

// Reads every field the font registry reads, so the cost of access after parsing is visible.
// `raising`: a descriptor without axes is found out by a raised read, as a strict reader must.
size_t readDescriptors(const kfp::JsonObject& root, bool raising) {
  size_t checksum = 0;
  const kfp::JsonArray fonts = root.findNamedArray(u"fonts").value();
  for (uint32_t i = 0; i < fonts.size(); ++i) {
    const kfp::JsonObject font = fonts.objectAt(i);
    for (const char16_t* name :
         {u"fontId", u"familyName", u"nativeFamilyName", u"fullName", u"nativeFullName",
          u"styleName", u"nativeStyleName", u"postScriptName"}) {
      checksum += font.getNamedString(name).size();
    }
    // As the registry reads them: a descriptor without axes raises, and that is caught.
    try {
      if (!raising && !font.findNamedArray(u"designAxesData")) continue;
      const kfp::JsonArray vector = font.findNamedArray(u"designVector").value();
      const kfp::JsonArray axes = font.findNamedArray(u"designAxesData").value();
      for (uint32_t a = 0; a < axes.size(); ++a) {
        const kfp::JsonObject axis = axes.objectAt(a);
        const double value = a < vector.size() ? vector.findNumberAt(a).value_or(0) : 0;
        checksum += axis.getNamedString(u"tag").size();
        checksum += static_cast<size_t>(axis.getNamedNumber(u"min", value) +
                                        axis.getNamedNumber(u"max", value) + value);
      }
    } catch (const std::bad_optional_access&) {
      ++checksum;
    }
  }
  return checksum;
}

}  // namespace

int main() {
  const std::string text = makeRegisterFontsText();
  const double megabytes = static_cast<double>(text.size()) / 1e6;
  const auto units = std::make_unique<char16_t[]>(text.size());

  size_t sink = 0;
  const double scanSeconds =
      bestSeconds([&] { sink += static_cast<size_t>(std::count(text.begin(), text.end(), '"')); });
  const double convertSeconds = bestSeconds([&] { sink += kfp::utf8ToUtf16(text, units.get()); });
  const double parseSeconds = bestSeconds(
      [&] { sink += kfp::JsonObject::parse(text).findNamedArray(u"fonts").value().size(); });
  const kfp::JsonObject root = kfp::JsonObject::parse(text);
  const uint32_t fontCount = root.findNamedArray(u"fonts").value().size();
  const double readSeconds = bestSeconds([&] { sink += readDescriptors(root, true); });
  const double findSeconds = bestSeconds([&] { sink += readDescriptors(root, false); });
  // What one failed strict read costs: descriptors without axes pay it once each.
  constexpr int kRaises = 10000;
  const kfp::JsonObject firstFont = root.findNamedArray(u"fonts").value().objectAt(1);
  const double raiseSeconds = bestSeconds([&] {
    for (int i = 0; i < kRaises; ++i) {
      try {
        firstFont.findNamedArray(u"designAxesData").value();
      } catch (const std::bad_optional_access&) {
        ++sink;
      }
    }
  });

  std::printf("input: %.2f MB, %u font descriptors\n", megabytes, fontCount);
  std::printf("byte scan (baseline)        %8.0f MB/s\n", megabytes / scanSeconds);
  std::printf("UTF-8 to UTF-16 (baseline)  %8.0f MB/s\n", megabytes / convertSeconds);
  std::printf("JSON parse                  %8.0f MB/s  (%.2f ms)\n", megabytes / parseSeconds,
              parseSeconds * 1e3);
  std::printf("read all descriptor fields  %8.2f ms  (%.0f ns per descriptor)\n", readSeconds * 1e3,
              readSeconds * 1e9 / fontCount);
  std::printf("  the same, no raise          %8.2f ms  (%.0f ns per descriptor)\n",
              findSeconds * 1e3, findSeconds * 1e9 / fontCount);
  std::printf("one raising read              %8.0f ns\n", raiseSeconds * 1e9 / kRaises);
  std::printf("parse / UTF-16 conversion   %8.2f\n", convertSeconds / parseSeconds);
  std::printf("parse target 300 MB/s       %s\n",
              megabytes / parseSeconds >= 300 ? "met" : "MISSED");
  std::printf("(checksum %zu)\n", sink);
  return 0;
}
