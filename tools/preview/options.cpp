#include "options.h"

#include <cstdlib>
#include <string_view>

namespace kfp::preview {
namespace {

bool parseNumber(const char* text, double& out) {
  char* end = nullptr;
  out = std::strtod(text, &end);
  return end != text && *end == '\0';
}

}  // namespace

const char* usageText() {
  return "usage: kfp-preview [options] OUTPUT.png\n"
         "  --text TEXT       sample text (UTF-8)\n"
         "  --size DIPS       font size, 4 to 256 (28)\n"
         "  --width DIPS      wrap width, 1 to 8192 (900)\n"
         "  --scale FACTOR    device pixels per DIP, 0.5 to 8 (1)\n"
         "  --limit N         only the first N fonts\n"
         "  --faces-per-page N  faces on each page (300); pages after the first are written as\n"
         "                    OUTPUT-2.png, OUTPUT-3.png, ...\n"
         "  --workers N       renderer processes, 0 for one per core (0)\n"
         "  --renderer PATH   renderer binary\n";
}

bool parseOptions(int argc, char** argv, Options& options, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") return false;
    if (arg.substr(0, 2) != "--") {
      if (!options.outputPath.empty()) {
        error = "more than one output path";
        return false;
      }
      options.outputPath = arg;
      continue;
    }
    if (i + 1 >= argc) {
      error = std::string(arg) + " needs a value";
      return false;
    }
    const char* value = argv[++i];
    double number = 0;
    bool ok = true;
    if (arg == "--text") {
      options.text = value;
    } else if (arg == "--renderer") {
      options.rendererPath = value;
    } else if (arg == "--size") {
      ok = parseNumber(value, options.fontSize);
    } else if (arg == "--width") {
      ok = parseNumber(value, options.width);
    } else if (arg == "--scale") {
      ok = parseNumber(value, options.dpiScale);
    } else if (arg == "--limit") {
      ok = parseNumber(value, number) && number >= 0;
      options.limit = static_cast<size_t>(number);
    } else if (arg == "--faces-per-page") {
      ok = parseNumber(value, number) && number >= 1 && number <= 100000;
      options.facesPerPage = static_cast<size_t>(number);
    } else if (arg == "--workers") {
      ok = parseNumber(value, number) && number >= 0 && number <= 256;
      options.workers = static_cast<size_t>(number);
    } else {
      error = "unknown option " + std::string(arg);
      return false;
    }
    if (!ok) {
      error = "bad value for " + std::string(arg) + ": " + value;
      return false;
    }
  }
  if (options.outputPath.empty()) {
    error = "no output path";
    return false;
  }
  return true;
}

std::string pagePath(const std::string& outputPath, size_t page) {
  if (page <= 1) return outputPath;
  const size_t slash = outputPath.find_last_of('/');
  const size_t dot = outputPath.find_last_of('.');
  // A dot in a directory name or a leading dot (".png") is no extension.
  const bool hasExtension =
      dot != std::string::npos && dot != 0 && (slash == std::string::npos || dot > slash + 1);
  const size_t at = hasExtension ? dot : outputPath.size();
  return outputPath.substr(0, at) + "-" + std::to_string(page) + outputPath.substr(at);
}

}  // namespace kfp::preview
