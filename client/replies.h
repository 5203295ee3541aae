#pragma once
// Decoded replies. Each decoder checks the frame's type and the fields the reply must carry, and
// returns nothing for a reply that does not have that shape.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "client_frame.h"

namespace kfp::client {

struct MeasureItem {
  std::string fontId;
  bool resolved = false;
  double height = 0;
  uint32_t lineCount = 0;
  std::string error;
};

struct MeasureResult {
  uint64_t requestId = 0;
  uint64_t generation = 0;
  std::string layoutKey;
  std::vector<MeasureItem> items;
};

struct RenderResult {
  uint64_t requestId = 0;
  uint64_t generation = 0;
  std::string layoutKey;
  std::string fontId;
  bool resolved = false;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t stride = 0;
  double textHeight = 0;
  std::string pixelFormat;
  std::string error;
  std::vector<uint8_t> pixels;  // height rows of stride bytes, top row first
};

std::optional<MeasureResult> decodeMeasureResult(const Frame& frame);
// Also checks that the payload holds exactly stride × height bytes when resolved.
// Takes the frame's payload over as the bitmap rather than copying it.
std::optional<RenderResult> decodeRenderResult(Frame&& frame);
// FontsRegistered's fontCount.
std::optional<uint64_t> decodeFontCount(const Frame& frame);
// FontChunkAck's receivedCount.
std::optional<uint64_t> decodeReceivedCount(const Frame& frame);
// The code of an Error or FatalError frame.
std::optional<std::string> decodeErrorCode(const Frame& frame);

}  // namespace kfp::client
