#include "requests.h"

#include "json_text.h"
#include "protocol/json_quote.h"

namespace kfp::client {
namespace {

void appendNamed(std::string& out, const char* key, const std::string& value) {
  out += ",\"";
  out += key;
  out += "\":";
  appendQuotedJson(out, value);
}

void appendNonEmpty(std::string& out, const char* key, const std::string& value) {
  if (!value.empty()) appendNamed(out, key, value);
}

// Axes travel as two parallel arrays: the tags with their bounds, and the values.
void appendAxes(std::string& out, const std::vector<FontAxis>& axes) {
  out += ",\"designAxesData\":[";
  for (size_t i = 0; i < axes.size(); ++i) {
    if (i) out.push_back(',');
    out += "{\"tag\":";
    appendQuotedJson(out, axes[i].tag);
    if (axes[i].min) {
      out += ",\"min\":";
      appendJsonNumber(out, *axes[i].min);
    }
    if (axes[i].max) {
      out += ",\"max\":";
      appendJsonNumber(out, *axes[i].max);
    }
    out.push_back('}');
  }
  out += "],\"designVector\":[";
  for (size_t i = 0; i < axes.size(); ++i) {
    if (i) out.push_back(',');
    appendJsonNumber(out, axes[i].value);
  }
  out.push_back(']');
}

}  // namespace

std::string helloJson(double protocolVersion) {
  std::string out = "{\"protocolVersion\":";
  appendJsonNumber(out, protocolVersion);
  out.push_back('}');
  return out;
}

void appendDescriptorJson(std::string& out, const FontDescriptor& font) {
  out += "{\"fontId\":";
  appendQuotedJson(out, font.fontId);
  // A missing name reads as an empty one; leaving empty names out keeps 50000 descriptors well
  // inside the 8 MiB JSON limit.
  appendNonEmpty(out, "familyName", font.familyName);
  appendNonEmpty(out, "nativeFamilyName", font.nativeFamilyName);
  appendNonEmpty(out, "fullName", font.fullName);
  appendNonEmpty(out, "nativeFullName", font.nativeFullName);
  appendNonEmpty(out, "styleName", font.styleName);
  appendNonEmpty(out, "nativeStyleName", font.nativeStyleName);
  appendNonEmpty(out, "postScriptName", font.postScriptName);
  if (!font.axes.empty()) appendAxes(out, font.axes);
  out.push_back('}');
}

std::string fontListJson(const std::vector<FontDescriptor>& fonts) {
  std::string out = "{\"fonts\":[";
  out.reserve(fonts.size() * 200);
  for (size_t i = 0; i < fonts.size(); ++i) {
    if (i) out.push_back(',');
    appendDescriptorJson(out, fonts[i]);
  }
  out += "]}";
  return out;
}

std::string beginFontsJson(double fontCount) {
  std::string out = "{\"fontCount\":";
  appendJsonNumber(out, fontCount);
  out.push_back('}');
  return out;
}

std::string layoutRequestJson(const LayoutRequest& request) {
  std::string out = "{\"requestId\":";
  appendUnsigned(out, request.requestId);
  out += ",\"generation\":";
  appendUnsigned(out, request.generation);
  appendNamed(out, "layoutKey", request.layoutKey);
  appendNamed(out, "text", request.text);
  out += ",\"fontSize\":";
  appendJsonNumber(out, request.fontSize);
  out += ",\"width\":";
  appendJsonNumber(out, request.width);
  out += ",\"dpiScale\":";
  appendJsonNumber(out, request.dpiScale);
  out += ",\"fontIds\":[";
  for (size_t i = 0; i < request.fontIds.size(); ++i) {
    if (i) out.push_back(',');
    appendQuotedJson(out, request.fontIds[i]);
  }
  out += "]}";
  return out;
}

std::string setGenerationJson(uint64_t generation) {
  std::string out = "{\"generation\":";
  appendUnsigned(out, generation);
  out.push_back('}');
  return out;
}

}  // namespace kfp::client
