#include "installed_fonts.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <string_view>
#include <tuple>

#include "installed_font_list.h"

namespace kfp::preview {
namespace {

#ifdef _WIN32
// No fontconfig to ask: every face shows the caller's text.
std::map<std::string, FontCoverage> coverageByName() {
  return {};
}
#else
// Fields are separated by a tab and records by a newline; fontconfig escapes neither, but font
// names containing them would be broken anyway.
constexpr const char* kCoverageCommand =
    "fc-list --format '%{postscriptname}\\t%{fullname[0]}\\t%{lang}\\t%{charset}\\n' "
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

// What fontconfig says each face covers, by PostScript name and by full name. Only the sample
// choice uses it: without fontconfig every face shows the caller's text.
std::map<std::string, FontCoverage> coverageByName() {
  std::map<std::string, FontCoverage> coverage;
  FILE* pipe = ::popen(kCoverageCommand, "r");
  if (!pipe) return coverage;
  std::string text;
  char buffer[65536];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  ::pclose(pipe);
  std::string_view rest = text;
  while (!rest.empty()) {
    const size_t newline = rest.find('\n');
    const auto fields = splitTabs(rest.substr(0, newline));
    rest.remove_prefix(newline == std::string_view::npos ? rest.size() : newline + 1);
    if (fields.size() != 4) continue;
    FontCoverage covers{parseCharset(fields[3]), parseLanguages(fields[2])};
    for (const std::string& name : {fields[0], fields[1]}) {
      if (!name.empty()) coverage.emplace(name, covers);
    }
  }
  return coverage;
}
#endif

// Faces that differ in nothing a descriptor says (a bitmap family's sizes) are one entry.
std::string descriptorKey(const client::FontDescriptor& font) {
  std::string key;
  client::appendDescriptorJson(key, font);
  return key;
}

}  // namespace

bool listInstalledFonts(const std::string& rendererPath, std::vector<InstalledFont>& fonts,
                        std::string& error) {
  std::vector<client::FontDescriptor> listed;
  if (!client::listInstalledFonts(rendererPath, listed, error)) return false;
  const std::map<std::string, FontCoverage> coverage = coverageByName();
  std::set<std::string> seen;
  for (client::FontDescriptor& descriptor : listed) {
    if (!seen.insert(descriptorKey(descriptor)).second) continue;
    InstalledFont font;
    for (const std::string* name : {&descriptor.postScriptName, &descriptor.fullName}) {
      const auto found = coverage.find(*name);
      if (!name->empty() && found != coverage.end()) {
        font.coverage = found->second;
        break;
      }
    }
    font.descriptor = std::move(descriptor);
    fonts.push_back(std::move(font));
  }
  std::stable_sort(fonts.begin(), fonts.end(), [](const auto& x, const auto& y) {
    const auto& a = x.descriptor;
    const auto& b = y.descriptor;
    return std::tie(a.familyName, a.styleName, a.fullName, a.postScriptName) <
           std::tie(b.familyName, b.styleName, b.fullName, b.postScriptName);
  });
  for (size_t i = 0; i < fonts.size(); ++i) {
    fonts[i].descriptor.fontId = "font-" + std::to_string(i);
  }
  return true;
}

}  // namespace kfp::preview
