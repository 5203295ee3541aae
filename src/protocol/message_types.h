#pragma once
// The message type codes, the protocol version and the error codes: what the renderer and every
// host agree on, with nothing of either side's implementation.

#include <cstdint>
#include <string_view>

namespace kfp {

enum MessageType : uint8_t {
  kHello = 1,
  kHelloAck = 2,
  kRegisterFonts = 3,
  kFontsRegistered = 4,
  kMeasure = 5,
  kMeasureResult = 6,
  kRender = 7,
  kRenderResult = 8,
  kSetGeneration = 9,
  kPing = 10,
  kPong = 11,
  kShutdown = 12,
  kError = 13,
  kFatalError = 14,
  kClearCache = 15,
  kBeginFonts = 16,
  kBeginFontsAck = 17,
  kFontChunk = 18,
  kFontChunkAck = 19,
  kCommitFonts = 20,
};

constexpr int kProtocolVersion = 1;
namespace errors {
constexpr std::string_view kInitializeFailed = "INITIALIZE_FAILED";
constexpr std::string_view kMemoryHardLimit = "MEMORY_HARD_LIMIT";
constexpr std::string_view kProtocolMismatch = "PROTOCOL_MISMATCH";
constexpr std::string_view kUnknownMessage = "UNKNOWN_MESSAGE";
constexpr std::string_view kInvalidJson = "INVALID_JSON";
constexpr std::string_view kInternalError = "INTERNAL_ERROR";
constexpr std::string_view kInvalidFontList = "INVALID_FONT_LIST";
constexpr std::string_view kTooManyFonts = "TOO_MANY_FONTS";
constexpr std::string_view kInvalidFontCount = "INVALID_FONT_COUNT";
constexpr std::string_view kInvalidFontChunk = "INVALID_FONT_CHUNK";
constexpr std::string_view kIncompleteFontRegistration = "INCOMPLETE_FONT_REGISTRATION";
constexpr std::string_view kFontNotRegistered = "FONT_NOT_REGISTERED";
constexpr std::string_view kFontNotFound = "FONT_NOT_FOUND";
constexpr std::string_view kFontCollectionCreateFailed = "FONT_COLLECTION_CREATE_FAILED";
constexpr std::string_view kFontFamilyNameFailed = "FONT_FAMILY_NAME_FAILED";
constexpr std::string_view kInvalidLayout = "INVALID_LAYOUT";
constexpr std::string_view kTextFormatFailed = "TEXT_FORMAT_FAILED";
constexpr std::string_view kFontAxisFailed = "FONT_AXIS_FAILED";
constexpr std::string_view kTextLayoutFailed = "TEXT_LAYOUT_FAILED";
constexpr std::string_view kTextMetricsFailed = "TEXT_METRICS_FAILED";
constexpr std::string_view kGdiFontFailed = "GDI_FONT_FAILED";
constexpr std::string_view kGdiMeasureFailed = "GDI_MEASURE_FAILED";
constexpr std::string_view kRasterizeFailed = "RASTERIZE_FAILED";
}  // namespace errors

}  // namespace kfp
