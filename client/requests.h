#pragma once
// Typed requests and their JSON texts.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kfp::client {

// One font-variation axis: its four-character tag, optional bounds and the requested value.
struct FontAxis {
  std::string tag;
  std::optional<double> min;
  std::optional<double> max;
  double value = 0;
};

// All names are UTF-8; empty names are left out of the JSON text, which the renderer reads the same
// way.
struct FontDescriptor {
  std::string fontId;
  std::string familyName;
  std::string nativeFamilyName;
  std::string fullName;
  std::string nativeFullName;
  std::string styleName;
  std::string nativeStyleName;
  std::string postScriptName;
  std::vector<FontAxis> axes;
};

// How one text is to be laid out, whichever fonts it is laid out in.
struct LayoutParameters {
  std::string layoutKey;
  std::string text;  // UTF-8
  double fontSize = 28;
  double width = 300;
  double dpiScale = 1;
};

// The fields Measure and Render share.
struct LayoutRequest : LayoutParameters {
  uint64_t requestId = 0;
  uint64_t generation = 0;
  std::vector<std::string> fontIds;
};

std::string helloJson(double protocolVersion);
void appendDescriptorJson(std::string& out, const FontDescriptor& font);
// {"fonts":[...]}: the body of RegisterFonts and FontChunk.
std::string fontListJson(const std::vector<FontDescriptor>& fonts);
std::string beginFontsJson(double fontCount);
std::string layoutRequestJson(const LayoutRequest& request);
std::string setGenerationJson(uint64_t generation);

}  // namespace kfp::client
