#include "installed_fonts.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <string_view>
#include <tuple>

namespace kfp::preview {
namespace {

// Fields are separated by a tab and records by a newline; fontconfig escapes neither, but font
// names containing them would be broken anyway.
constexpr const char* kCommand =
    "fc-list --format "
    "'%{family[0]}\\t%{style[0]}\\t%{fullname[0]}\\t%{postscriptname}\\t%{lang}\\t%{charset}\\n' "
    ":scalable=true 2>/dev/null";

std::vector<std::string> splitTabs(std::string_view line) {
  std::vector<std::string> fields;
  for (;;) {
    const size_t tab = line.find('\t');
    fields.emplace_back(line.substr(0, tab));
    if (tab == std::string_view::npos) return fields;
    line.remove_prefix(tab + 1);
  }
}

}  // namespace

bool listInstalledFonts(std::vector<InstalledFont>& fonts, std::string& error) {
  FILE* pipe = ::popen(kCommand, "r");
  if (!pipe) {
    error = "cannot run fc-list";
    return false;
  }
  std::string text;
  char buffer[65536];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  if (::pclose(pipe) != 0) {
    error = "fc-list failed";
    return false;
  }

  std::set<std::string> seen;
  std::string_view rest = text;
  while (!rest.empty()) {
    const size_t newline = rest.find('\n');
    const auto fields = splitTabs(rest.substr(0, newline));
    rest.remove_prefix(newline == std::string_view::npos ? rest.size() : newline + 1);
    if (fields.size() != 6 || fields[0].empty()) continue;
    // Variable fonts list each named instance; the PostScript name tells them apart.
    const std::string key = fields[3].empty() ? fields[2] : fields[3];
    if (!seen.insert(key).second) continue;
    InstalledFont font;
    font.descriptor.familyName = fields[0];
    font.descriptor.styleName = fields[1];
    font.descriptor.fullName = fields[2];
    font.descriptor.postScriptName = fields[3];
    font.coverage.languages = parseLanguages(fields[4]);
    font.coverage.ranges = parseCharset(fields[5]);
    fonts.push_back(std::move(font));
  }
  std::sort(fonts.begin(), fonts.end(), [](const auto& x, const auto& y) {
    const auto& a = x.descriptor;
    const auto& b = y.descriptor;
    return std::tie(a.familyName, a.styleName, a.postScriptName) <
           std::tie(b.familyName, b.styleName, b.postScriptName);
  });
  for (size_t i = 0; i < fonts.size(); ++i)
    fonts[i].descriptor.fontId = "font-" + std::to_string(i);
  return true;
}

}  // namespace kfp::preview
