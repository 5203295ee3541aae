#include "installed_font_list.h"

#include <optional>

#include "json_value.h"
#include "renderer_process.h"

namespace kfp::client {
namespace {

std::string stringMember(const JsonValue& object, std::string_view key) {
  return object.stringAt(key).value_or(std::string());
}

// The renderer's output and whether it exited with status 0. Its input is closed at once: the
// listing reads nothing. Started as every renderer is, so that the listing works wherever the
// process code does.
bool runListing(const std::string& path, const std::vector<std::string>& leadingArgs,
                std::string& output, std::string& error) {
  // A large collection on a cold cache takes long to index; a renderer that hangs still ends.
  constexpr Milliseconds kListingTimeout(300000);
  std::vector<std::string> args = leadingArgs;
  args.push_back("--list-fonts");
  auto process = RendererProcess::spawn(path, args);
  if (!process) {
    error = "cannot start the renderer " + path;
    return false;
  }
  (*process)->closeInput();
  if (!(*process)->readOutputToEnd(output, kListingTimeout)) {
    (*process)->kill();
    error = "cannot read the renderer's font list";
    return false;
  }
  const ProcessExit exit = (*process)->waitForExit(kListingTimeout);
  if (!exit.exitedWith(0)) {
    if (exit.kind == ProcessExit::Kind::kRunning) (*process)->kill();
    error = "the renderer could not list its fonts (" + exit.describe() + ")";
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
