#pragma once
// Command-line options of kfp-preview.

#include <cstddef>
#include <string>

namespace kfp::preview {

struct Options {
  std::string outputPath;
  std::string text = "The quick brown fox jumps over the lazy dog 0123456789";
  double fontSize = 28;
  double width = 900;
  double dpiScale = 1;
  size_t limit = 0;           // 0: every installed font
  size_t facesPerPage = 300;  // a collection of any size becomes pages of bounded height
  size_t workers = 0;         // 0: one renderer per core
  std::string rendererPath;
};

// False with `error` set on a malformed command line; `error` empty and false for --help.
bool parseOptions(int argc, char** argv, Options& options, std::string& error);
const char* usageText();

// Where page `page` (1-based) goes: the output path itself for the first, then the path with
// "-2", "-3", ... before its extension (preview.png, preview-2.png, ...).
std::string pagePath(const std::string& outputPath, size_t page);

}  // namespace kfp::preview
