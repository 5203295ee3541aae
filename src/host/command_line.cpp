#include "host/command_line.h"

namespace kfp {
namespace {

bool isBlank(char16_t c) {
  return c == u' ' || c == u'\t';
}

}  // namespace

std::u16string_view argumentText(std::u16string_view commandLine) {
  size_t end;
  if (!commandLine.empty() && commandLine.front() == u'"') {
    end = commandLine.find(u'"', 1);
    end = end == std::u16string_view::npos ? commandLine.size() : end + 1;
  } else {
    end = 0;
    while (end < commandLine.size() && !isBlank(commandLine[end])) ++end;
  }
  while (end < commandLine.size() && isBlank(commandLine[end])) ++end;
  return commandLine.substr(end);
}

}  // namespace kfp
