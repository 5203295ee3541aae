#include "replies.h"

#include <limits>

#include "json_value.h"
#include "protocol/message_types.h"

namespace kfp::client {
namespace {

std::optional<JsonValue> objectOf(const Frame& frame, uint8_t type) {
  if (frame.type != type) return std::nullopt;
  auto root = parseJson(frame.json);
  if (!root || !root->isObject()) return std::nullopt;
  return root;
}

std::optional<uint32_t> u32At(const JsonValue& object, std::string_view key) {
  auto value = object.unsignedAt(key);
  if (!value || *value > std::numeric_limits<uint32_t>::max()) return std::nullopt;
  return static_cast<uint32_t>(*value);
}

// The request echo both work replies start with.
template <typename Result>
bool readEcho(const JsonValue& root, Result& out) {
  auto requestId = root.unsignedAt("requestId");
  auto generation = root.unsignedAt("generation");
  auto layoutKey = root.stringAt("layoutKey");
  if (!requestId || !generation || !layoutKey) return false;
  out.requestId = *requestId;
  out.generation = *generation;
  out.layoutKey = std::move(*layoutKey);
  return true;
}

std::optional<MeasureItem> readItem(const JsonValue& item) {
  MeasureItem out;
  auto fontId = item.stringAt("fontId");
  auto resolved = item.boolAt("resolved");
  if (!fontId || !resolved) return std::nullopt;
  out.fontId = std::move(*fontId);
  out.resolved = *resolved;
  if (out.resolved) {
    auto height = item.doubleAt("height");
    auto lineCount = u32At(item, "lineCount");
    if (!height || !lineCount) return std::nullopt;
    out.height = *height;
    out.lineCount = *lineCount;
  } else {
    auto error = item.stringAt("error");
    if (!error) return std::nullopt;
    out.error = std::move(*error);
  }
  return out;
}

std::optional<uint64_t> countOf(const Frame& frame, uint8_t type, std::string_view key) {
  auto root = objectOf(frame, type);
  if (!root) return std::nullopt;
  return root->unsignedAt(key);
}

}  // namespace

std::optional<MeasureResult> decodeMeasureResult(const Frame& frame) {
  if (frame.type != kMeasureResult) return std::nullopt;
  MeasureResult out;
  auto root = parseJsonStreamingArray(frame.json, "items", [&](const JsonValue& element) {
    auto item = readItem(element);
    if (item) out.items.push_back(std::move(*item));
    return item.has_value();
  });
  if (!root || !root->isObject() || !readEcho(*root, out)) return std::nullopt;
  const JsonValue* items = root->find("items");
  if (!items || !items->isArray()) return std::nullopt;
  return out;
}

std::optional<RenderResult> decodeRenderResult(Frame&& frame) {
  auto root = objectOf(frame, kRenderResult);
  if (!root) return std::nullopt;
  RenderResult out;
  if (!readEcho(*root, out)) return std::nullopt;
  auto fontId = root->stringAt("fontId");
  auto resolved = root->boolAt("resolved");
  if (!fontId || !resolved) return std::nullopt;
  out.fontId = std::move(*fontId);
  out.resolved = *resolved;
  if (!out.resolved) {
    auto error = root->stringAt("error");
    if (!error || !frame.payload.empty()) return std::nullopt;
    out.error = std::move(*error);
    return out;
  }
  auto width = u32At(*root, "width");
  auto height = u32At(*root, "height");
  auto stride = u32At(*root, "stride");
  auto textHeight = root->doubleAt("textHeight");
  auto pixelFormat = root->stringAt("pixelFormat");
  if (!width || !height || !stride || !textHeight || !pixelFormat) return std::nullopt;
  if (*stride < *width || uint64_t(*stride) * *height != frame.payload.size()) return std::nullopt;
  out.width = *width;
  out.height = *height;
  out.stride = *stride;
  out.textHeight = *textHeight;
  out.pixelFormat = std::move(*pixelFormat);
  out.pixels = std::move(frame.payload);
  return out;
}

std::optional<uint64_t> decodeFontCount(const Frame& frame) {
  return countOf(frame, kFontsRegistered, "fontCount");
}

std::optional<uint64_t> decodeReceivedCount(const Frame& frame) {
  return countOf(frame, kFontChunkAck, "receivedCount");
}

std::optional<std::string> decodeErrorCode(const Frame& frame) {
  if (frame.type != kError && frame.type != kFatalError) return std::nullopt;
  auto root = parseJson(frame.json);
  if (!root || !root->isObject()) return std::nullopt;
  return root->stringAt("error");
}

}  // namespace kfp::client
