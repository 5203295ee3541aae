#include "installed_font_list.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "json_value.h"

extern char** environ;

namespace kfp::client {
namespace {

std::string stringMember(const JsonValue& object, std::string_view key) {
  return object.stringAt(key).value_or(std::string());
}

// Reads the child's standard output to its end; false on a read error.
bool readAll(int fd, std::string& out) {
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    out.append(buffer, size_t(n));
  }
}

// The renderer's output and whether it exited with status 0. Standard input and error are
// /dev/null: the listing reads nothing and says nothing beyond its lines.
bool runListing(const std::string& path, const std::vector<std::string>& leadingArgs,
                std::string& output, std::string& error) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    error = "cannot create a pipe";
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> args = {path};
  args.insert(args.end(), leadingArgs.begin(), leadingArgs.end());
  args.push_back("--list-fonts");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  if (spawned != 0) {
    ::close(pipeFds[0]);
    error = "cannot start the renderer " + path;
    return false;
  }
  const bool read = readAll(pipeFds[0], output);
  ::close(pipeFds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!read) {
    error = "cannot read the renderer's font list";
    return false;
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    error = "the renderer could not list its fonts (status " + std::to_string(status) + ")";
    return false;
  }
  return true;
}

}  // namespace

bool parseInstalledFontLine(std::string_view line, FontDescriptor& font) {
  const std::optional<JsonValue> value = parseJson(line);
  if (!value || !value->isObject() || !value->stringAt("familyName")) return false;
  font = FontDescriptor{};
  font.familyName = stringMember(*value, "familyName");
  font.nativeFamilyName = stringMember(*value, "nativeFamilyName");
  font.fullName = stringMember(*value, "fullName");
  font.nativeFullName = stringMember(*value, "nativeFullName");
  font.styleName = stringMember(*value, "styleName");
  font.nativeStyleName = stringMember(*value, "nativeStyleName");
  font.postScriptName = stringMember(*value, "postScriptName");
  const JsonValue* axes = value->find("designAxesData");
  const JsonValue* vector = value->find("designVector");
  if (!axes && !vector) return true;
  if (!axes || !vector || !axes->isArray() || !vector->isArray() ||
      axes->elements().size() != vector->elements().size()) {
    return false;
  }
  for (size_t i = 0; i < axes->elements().size(); ++i) {
    const JsonValue& axis = axes->elements()[i];
    const std::optional<double> axisValue = vector->elements()[i].asDouble();
    const std::optional<std::string> tag = axis.stringAt("tag");
    if (!tag || tag->size() != 4 || !axisValue) return false;
    font.axes.push_back({*tag, axis.doubleAt("min"), axis.doubleAt("max"), *axisValue});
  }
  return true;
}

bool listInstalledFonts(const std::string& rendererPath, std::vector<FontDescriptor>& fonts,
                        std::string& error) {
  return listInstalledFonts(rendererPath, {}, fonts, error);
}

bool listInstalledFonts(const std::string& program, const std::vector<std::string>& leadingArgs,
                        std::vector<FontDescriptor>& fonts, std::string& error) {
  std::string output;
  if (!runListing(program, leadingArgs, output, error)) return false;
  fonts.clear();
  std::string_view rest = output;
  size_t lineNumber = 0;
  while (!rest.empty()) {
    const size_t newline = rest.find('\n');
    const std::string_view line = rest.substr(0, newline);
    rest.remove_prefix(newline == std::string_view::npos ? rest.size() : newline + 1);
    ++lineNumber;
    if (line.empty()) continue;
    FontDescriptor font;
    if (!parseInstalledFontLine(line, font)) {
      error = "line " + std::to_string(lineNumber) + " of the font list is not a descriptor";
      return false;
    }
    fonts.push_back(std::move(font));
  }
  return true;
}

}  // namespace kfp::client
