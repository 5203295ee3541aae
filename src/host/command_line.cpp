#include "host/command_line.h"

#include <vector>

#include "host/reply_encoding.h"
#include "platform/backend.h"
#include "protocol/byte_stream.h"
#include "protocol/exit_codes.h"
#include "protocol/frame.h"

namespace kfp {
namespace {

// Lines are written in batches of about this size: the list of a large font library stays one
// buffer of modest size.
constexpr size_t kWriteBatchBytes = 64 * 1024;

bool isBlank(char16_t c) {
  return c == u' ' || c == u'\t';
}

void appendNameField(std::string& out, std::string_view key, const std::u16string& value) {
  out += ",\"";
  out += key;
  out += "\":";
  appendQuotedUtf16(out, value);
}

std::u16string tagText(uint32_t tag) {
  std::u16string text;
  for (int i = 0; i < 4; ++i) text.push_back(char16_t((tag >> (8 * i)) & 0xFF));
  return text;
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

bool isListFontsRequest(std::string_view argumentText) {
  return argumentText.find("--list-fonts") != std::string_view::npos;
}

std::string installedFontJson(const InstalledFont& font) {
  std::string out = "{\"familyName\":";
  appendQuotedUtf16(out, font.familyName);
  appendNameField(out, "nativeFamilyName", font.nativeFamilyName);
  appendNameField(out, "fullName", font.fullName);
  appendNameField(out, "nativeFullName", font.nativeFullName);
  appendNameField(out, "styleName", font.styleName);
  appendNameField(out, "nativeStyleName", font.nativeStyleName);
  appendNameField(out, "postScriptName", font.postScriptName);
  out += ",\"designAxesData\":[";
  for (size_t i = 0; i < font.axes.size(); ++i) {
    if (i > 0) out.push_back(',');
    out += "{\"tag\":";
    appendQuotedUtf16(out, tagText(font.axes[i].tag));
    out += ",\"min\":";
    appendFloat(out, font.axes[i].minimum);
    out += ",\"max\":";
    appendFloat(out, font.axes[i].maximum);
    out.push_back('}');
  }
  out += "],\"designVector\":[";
  for (size_t i = 0; i < font.axes.size(); ++i) {
    if (i > 0) out.push_back(',');
    appendFloat(out, font.axes[i].value);
  }
  out += "]}";
  return out;
}

int writeInstalledFontList(Backend& backend, ByteWriter& out) {
  std::vector<InstalledFont> fonts;
  if (!backend.listInstalledFonts(&fonts)) return kExitInitializeFailed;
  std::string batch;
  for (const InstalledFont& font : fonts) {
    batch += installedFontJson(font);
    batch.push_back('\n');
    if (batch.size() >= kWriteBatchBytes) {
      if (!writeAll(out, batch.data(), batch.size())) return kExitBadHandles;
      batch.clear();
    }
  }
  if (!batch.empty() && !writeAll(out, batch.data(), batch.size())) return kExitBadHandles;
  return kExitOk;
}

}  // namespace kfp
