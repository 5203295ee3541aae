// kfp-preview: renders a sample text in every installed font through the renderer and writes a
// PNG contact sheet, each sample below its font's name.

#include <chrono>
#include <cstdio>
#include <map>

#include "contact_sheet.h"
#include "installed_fonts.h"
#include "kfp_client.h"
#include "options.h"

namespace {

using namespace kfp;
using namespace kfp::client;

constexpr double kLabelSize = 11;
constexpr const char* kLabelFontId = "label";
// Fonts per request: results stream back per font, so this only bounds one request's size.
constexpr size_t kBatch = 200;

int fail(const std::string& message) {
  std::fprintf(stderr, "kfp-preview: %s\n", message.c_str());
  return 1;
}

// The face the labels are drawn in: a common sans-serif when installed, else the first font.
FontDescriptor labelFont(const std::vector<FontDescriptor>& fonts) {
  FontDescriptor label = fonts.front();
  for (const auto& font : fonts) {
    if (font.familyName == "DejaVu Sans" && font.styleName == "Book") label = font;
  }
  label.fontId = kLabelFontId;
  return label;
}

}  // namespace

int main(int argc, char** argv) {
  preview::Options options;
  options.rendererPath = KFP_RENDERER_PATH;
  std::string error;
  if (!preview::parseOptions(argc, argv, options, error)) {
    std::fputs(preview::usageText(), error.empty() ? stdout : stderr);
    return error.empty() ? 0 : fail(error);
  }
  const auto start = std::chrono::steady_clock::now();

  std::vector<FontDescriptor> fonts;
  if (!preview::listInstalledFonts(fonts, error)) return fail(error);
  if (fonts.empty()) return fail("no installed fonts found");
  if (options.limit && fonts.size() > options.limit) fonts.resize(options.limit);
  std::vector<FontDescriptor> registered = fonts;
  registered.push_back(labelFont(fonts));

  auto renderer = Client::start({options.rendererPath, {}, Milliseconds(30000)}, &error);
  if (!renderer) return fail(error);
  if (!renderer->hello()) return fail("cannot talk to the renderer");
  Frame ack;
  if (renderer->receive(ack) != ReadStatus::kFrame || ack.type != kHelloAck) {
    return fail("the renderer did not acknowledge the handshake");
  }
  auto count = renderer->registerFontsChunkedAndWait(registered);
  if (!count) return fail("registration failed: " + count.failure.what);

  LayoutRequest request;
  request.generation = 1;
  request.text = options.text;
  request.fontSize = options.fontSize;
  request.width = options.width;
  request.dpiScale = options.dpiScale;

  preview::ContactSheet sheet(static_cast<uint32_t>(16 * options.dpiScale));
  const auto gap = static_cast<uint32_t>(12 * options.dpiScale);
  std::map<std::string, size_t> failures;
  size_t resolved = 0;
  for (size_t first = 0; first < fonts.size(); first += kBatch) {
    request.fontIds.clear();
    for (size_t i = first; i < std::min(fonts.size(), first + kBatch); ++i) {
      request.fontIds.push_back(fonts[i].fontId);
    }
    ++request.requestId;
    auto measured = renderer->measureAndWait(request);
    if (!measured) return fail("measure failed: " + measured.failure.what);
    auto rendered = renderer->renderAndWait(request);
    if (!rendered) return fail("render failed: " + rendered.failure.what);

    for (size_t i = 0; i < rendered.value->size(); ++i) {
      const FontDescriptor& font = fonts[first + i];
      const RenderResult& sample = (*rendered.value)[i];
      const MeasureItem& item = measured.value->items[i];
      LayoutRequest labelRequest = request;
      labelRequest.fontIds = {kLabelFontId};
      labelRequest.fontSize = kLabelSize;
      // Instances of a variable font often share one full name; the style tells them apart.
      labelRequest.text = font.fullName.empty() ? font.familyName : font.fullName;
      if (!font.styleName.empty() && labelRequest.text.find(font.styleName) == std::string::npos) {
        labelRequest.text += " " + font.styleName;
      }
      if (!sample.resolved) {
        labelRequest.text += "  [" + sample.error + "]";
        ++failures[sample.error];
      } else {
        ++resolved;
        labelRequest.text += "  (" + std::to_string(item.lineCount) + " lines)";
      }
      auto label = renderer->renderAndWait(labelRequest);
      if (label && label.value->front().resolved) sheet.addBitmap(label.value->front(), gap);
      if (sample.resolved) sheet.addBitmap(sample, gap / 3);
    }
  }
  const ProcessExit exit = renderer->stop();
  if (!sheet.writePng(options.outputPath, error)) return fail(error);

  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%zu fonts: %zu resolved, %zu failed; %.2f s; wrote %s\n", fonts.size(), resolved,
              fonts.size() - resolved, seconds, options.outputPath.c_str());
  for (const auto& [code, n] : failures) std::printf("  %s: %zu\n", code.c_str(), n);
  if (!exit.exitedWith(0)) std::printf("renderer: %s\n", exit.describe().c_str());
  return 0;
}
