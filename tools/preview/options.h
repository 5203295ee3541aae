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
  size_t limit = 0;    // 0: every installed font
  size_t workers = 0;  // 0: one renderer per core
  std::string rendererPath;
};

// False with `error` set on a malformed command line; `error` empty and false for --help.
bool parseOptions(int argc, char** argv, Options& options, std::string& error);
const char* usageText();

}  // namespace kfp::preview
