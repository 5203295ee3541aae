// Lists the installed fonts through the installed renderer, previews the first DejaVu Sans face,
// and prints its bitmap's size and ink. Exit status 0 only when the preview has ink.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <installed_font_list.h>
#include <preview_service.h>

int main() {
  using namespace kfp::client;
  std::vector<FontDescriptor> fonts;
  std::string error;
  if (!listInstalledFonts(KFP_RENDERER, fonts, error)) {
    std::fprintf(stderr, "listInstalledFonts: %s\n", error.c_str());
    return 1;
  }
  const auto dejavu = std::find_if(fonts.begin(), fonts.end(), [](const FontDescriptor& font) {
    return font.familyName == "DejaVu Sans";
  });
  if (dejavu == fonts.end()) {
    std::fprintf(stderr, "DejaVu Sans is not among %zu listed fonts\n", fonts.size());
    return 1;
  }
  FontDescriptor font = *dejavu;
  font.fontId = "sample";

  PreviewServiceOptions options;
  options.rendererPath = KFP_RENDERER;
  options.workers = 1;
  PreviewService service(options);
  service.setFonts({font});
  PreviewRequest request;
  request.text = "Hamburgefonstiv";
  request.fontIds = {"sample"};
  const auto results = service.render(request);
  if (!results || results->size() != 1 || !(*results)[0].resolved) {
    std::fprintf(stderr, "the preview failed\n");
    return 1;
  }
  const RenderResult& result = (*results)[0];
  const auto ink = std::count_if(result.pixels.begin(), result.pixels.end(),
                                 [](uint8_t alpha) { return alpha != 0; });
  std::printf("%s: %ux%u, %ld inked pixels\n", font.fullName.c_str(), result.width, result.height,
              static_cast<long>(ink));
  return ink > 0 ? 0 : 1;
}
