// kfp-preview: renders a sample text in every installed font through the preview service and
// writes a PNG contact sheet, faces grouped under their family's name, each sample below a label
// that names the face and the sample used.

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>

#include "contact_sheet.h"
#include "installed_fonts.h"
#include "options.h"
#include "preview_service.h"
#include "progress_bar.h"
#include "sample_text.h"

namespace {

using namespace kfp;
using namespace kfp::client;

constexpr double kFamilySize = 14;
constexpr double kLabelSize = 11;
constexpr const char* kLabelFontId = "label";

int fail(const std::string& message) {
  std::fprintf(stderr, "kfp-preview: %s\n", message.c_str());
  return 1;
}

// The face the labels are drawn in: a common sans-serif when installed, else the first font.
FontDescriptor labelFont(const std::vector<preview::InstalledFont>& fonts) {
  FontDescriptor label = fonts.front().descriptor;
  for (const auto& font : fonts) {
    if (font.descriptor.postScriptName == "DejaVuSans") {
      label = font.descriptor;
    }
  }
  label.fontId = kLabelFontId;
  return label;
}

// The face's name under its family heading. Instances of a variable font often share one full
// name; the style tells them apart.
std::string faceName(const FontDescriptor& font) {
  std::string name = font.styleName.empty() ? font.fullName : font.styleName;
  if (name.empty()) name = font.familyName;
  return name;
}

#ifdef _WIN32
// The renderer sits beside the tool, in the build tree as in an install.
std::string defaultRendererPath() {
  std::wstring self(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, self.data(), DWORD(self.size()));
    if (n == 0) return "kest-font-preview-renderer.exe";
    if (n < self.size()) {
      self.resize(n);
      break;
    }
    self.resize(self.size() * 2);  // truncated: a long path
  }
  const std::filesystem::path renderer =
      std::filesystem::path(self).parent_path() / L"kest-font-preview-renderer.exe";
  const std::u8string utf8 = renderer.u8string();  // the process code takes UTF-8 paths
  return std::string(utf8.begin(), utf8.end());
}

bool stderrIsTerminal() {
  return _isatty(_fileno(stderr)) != 0;
}
#else
// An installed kfp-preview takes the renderer installed beside it (KFP_RENDERER_FROM_BIN, relative
// to its own directory); a build-tree one takes the renderer of its build.
std::string defaultRendererPath() {
#ifdef KFP_RENDERER_FROM_BIN
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) {
    const std::filesystem::path installed = self.parent_path() / KFP_RENDERER_FROM_BIN;
    if (::access(installed.c_str(), X_OK) == 0) return installed.lexically_normal().string();
  }
#endif
  return KFP_RENDERER_PATH;
}

bool stderrIsTerminal() {
  return isatty(STDERR_FILENO) == 1;
}
#endif

}  // namespace

// The tool itself, on arguments in UTF-8.
static int previewMain(int argc, char** argv) {
  preview::Options options;
  options.rendererPath = defaultRendererPath();
  std::string error;
  if (!preview::parseOptions(argc, argv, options, error)) {
    std::fputs(preview::usageText(), error.empty() ? stdout : stderr);
    return error.empty() ? 0 : fail(error);
  }
  const auto start = std::chrono::steady_clock::now();

  std::vector<preview::InstalledFont> fonts;
  if (!preview::listInstalledFonts(options.rendererPath, fonts, error)) return fail(error);
  if (fonts.empty()) return fail("no installed fonts found");
  const FontDescriptor labels = labelFont(fonts);
  if (options.limit && fonts.size() > options.limit) fonts.resize(options.limit);

  std::vector<FontDescriptor> registered;
  for (const auto& font : fonts) registered.push_back(font.descriptor);
  registered.push_back(labels);

  PreviewServiceOptions serviceOptions;
  serviceOptions.rendererPath = options.rendererPath;
  serviceOptions.workers = options.workers;
  serviceOptions.replyTimeout = Milliseconds(30000);
  PreviewService service(serviceOptions);
  service.setFonts(std::move(registered));

  // A family heading stands where a family starts, and again atop a page that continues one.
  std::vector<preview::Sample> samples;
  size_t families = 0, headings = 0;
  for (size_t i = 0; i < fonts.size(); ++i) {
    samples.push_back(preview::chooseSample(fonts[i].coverage, options.text));
    const bool newFamily =
        i == 0 || fonts[i].descriptor.familyName != fonts[i - 1].descriptor.familyName;
    families += newFamily;
    headings += newFamily || i % options.facesPerPage == 0;
  }
  const size_t pages = (fonts.size() + options.facesPerPage - 1) / options.facesPerPage;
  // Samples, face labels and family headings.
  preview::ProgressBar progress(2 * fonts.size() + headings, stderrIsTerminal());

  // One request per label: every label has its own text.
  auto label = [&](const std::string& text, double size) {
    PreviewRequest request;
    request.layoutKey = "label";
    request.text = text;
    request.fontSize = size;
    request.width = options.width;
    request.dpiScale = options.dpiScale;
    request.fontIds = {kLabelFontId};
    auto result = service.render(request);
    progress.advance();
    if (!result || !result->front().resolved) return RenderResult{};
    return std::move(result->front());
  };

  // Page by page, so that what is held at once is one page's bitmaps, whatever the collection.
  std::map<std::string, size_t> failures;
  size_t resolved = 0;
  std::vector<std::string> written;
  const auto gap = static_cast<uint32_t>(12 * options.dpiScale);
  for (size_t page = 0; page < pages; ++page) {
    const size_t first = page * options.facesPerPage;
    const size_t end = std::min(fonts.size(), first + options.facesPerPage);

    // Faces that share a sample text share a request.
    std::map<std::string, std::vector<size_t>> bySample;
    for (size_t i = first; i < end; ++i) bySample[samples[i].text].push_back(i);
    std::vector<RenderResult> rendered(end - first);
    for (const auto& group : bySample) {
      const std::vector<size_t>& indices = group.second;
      PreviewRequest request;
      request.layoutKey = "sample";
      request.text = group.first;
      request.fontSize = options.fontSize;
      request.width = options.width;
      request.dpiScale = options.dpiScale;
      for (size_t i : indices) request.fontIds.push_back(fonts[i].descriptor.fontId);
      auto done = service.render(request, [&](size_t index, RenderResult&& result) {
        rendered[indices[index] - first] = std::move(result);
        progress.advance();
      });
      if (!done) return fail("render failed: " + done.error().describe());
    }

    preview::ContactSheet sheet(static_cast<uint32_t>(16 * options.dpiScale));
    for (size_t i = first; i < end; ++i) {
      const FontDescriptor& font = fonts[i].descriptor;
      if (i == first || font.familyName != fonts[i - 1].descriptor.familyName) {
        const RenderResult heading = label(font.familyName, kFamilySize);
        if (heading.resolved) sheet.addBitmap(heading, i == first ? 0 : 3 * gap);
      }
      const RenderResult& sample = rendered[i - first];
      std::string text = "  " + faceName(font) + "  \xC2\xB7  sample: " + samples[i].name;
      if (!sample.resolved) {
        const std::string code = sample.error.empty() ? "no result" : sample.error;
        text += "  [" + code + "]";
        ++failures[code];
      } else {
        ++resolved;
      }
      const RenderResult faceLabel = label(text, kLabelSize);
      if (faceLabel.resolved) sheet.addBitmap(faceLabel, gap);
      if (sample.resolved) sheet.addBitmap(sample, gap / 3);
    }
    const std::string path = preview::pagePath(options.outputPath, page + 1);
    if (!sheet.writePng(path, error)) {
      progress.finish();
      return fail(error);
    }
    written.push_back(path);
  }
  progress.finish();
  service.shutdown();

  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const PreviewServiceStats stats = service.stats();
  const std::string where =
      written.size() > 1 ? written.front() + " to " + written.back() : written.front();
  std::printf(
      "%zu fonts in %zu families: %zu resolved, %zu failed; %zu renderers; %.2f s; wrote %s\n",
      fonts.size(), families, resolved, fonts.size() - resolved, service.workerCount(), seconds,
      where.c_str());
  for (const auto& [code, n] : failures) std::printf("  %s: %zu\n", code.c_str(), n);
  if (stats.rendererRestarts)
    std::printf("renderers replaced: %llu\n",
                static_cast<unsigned long long>(stats.rendererRestarts));
  return 0;
}

#ifdef _WIN32
// Arguments as UTF-8 whatever the code page, so that any path reaches the files and the renderer
// intact.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
    std::string arg(size_t(n > 0 ? n - 1 : 0), '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, arg.data(), n, nullptr, nullptr);
    args.push_back(std::move(arg));
  }
  std::vector<char*> pointers;
  for (std::string& arg : args) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  return previewMain(argc, pointers.data());
}
#else
int main(int argc, char** argv) {
  return previewMain(argc, argv);
}
#endif
