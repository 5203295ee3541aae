#include "host/request_handlers.h"

#include <algorithm>
#include <string>
#include <vector>

#include "base/json.h"
#include "base/numbers.h"
#include "fonts/font_lookup.h"
#include "fonts/font_registry.h"
#include "host/renderer_context.h"
#include "host/reply_encoding.h"
#include "layout/measure_layout.h"
#include "layout/resolved_font_cache.h"
#include "protocol/frame.h"
#include "protocol/message_types.h"
#include "raster/rasterize_layout.h"

namespace kfp {
namespace {

struct LayoutRequest {
  uint64_t requestId = 0;
  uint64_t generation = 0;
  std::u16string layoutKey;
  std::u16string text;
  float fontSize = 28;
  float width = 300;
  float dpiScale = 1;
  std::vector<std::u16string> fontIds;
};

LayoutResult measureFont(RendererContext& context, const std::u16string& fontId,
                         const LayoutRequest& r) {
  return measureLayout(context.platform(), context.registry(), context.resolvedFonts(), fontId,
                       r.text, r.fontSize, r.width, r.dpiScale);
}

// Reads requestId and generation; the rest only when the request is not stale.
bool readLayoutRequest(const JsonObject& request, uint64_t watermark, LayoutRequest& out) {
  out.requestId = toUnsigned(request.getNamedNumber(u"requestId", 0));
  out.generation = toUnsigned(request.getNamedNumber(u"generation", 0));
  if (out.generation <= watermark) return false;
  out.layoutKey = request.getNamedString(u"layoutKey");
  out.text = request.getNamedString(u"text");
  out.fontSize = toFloat(request.getNamedNumber(u"fontSize", 28));
  out.width = toFloat(request.getNamedNumber(u"width", 300));
  out.dpiScale = toFloat(request.getNamedNumber(u"dpiScale", 1));
  out.fontIds = parseFontIds(request);
  return true;
}

void appendRequestEcho(std::string& out, const LayoutRequest& request) {
  out += "{\"requestId\":";
  appendUnsigned(out, request.requestId);
  out += ",\"generation\":";
  appendUnsigned(out, request.generation);
  out += ",\"layoutKey\":";
  appendQuotedUtf16(out, request.layoutKey);
}

}  // namespace

uint64_t toUnsigned(double value) {
  if (!(value > 0)) return 0;
  if (value >= 18446744073709551616.0) return uint64_t(1) << 63;
  return static_cast<uint64_t>(value);
}

void handleSetGeneration(const JsonObject& request, uint64_t& watermark) {
  const double generation = request.getNamedNumber(u"generation", 0);
  if (!(generation > 0)) return;
  const uint64_t value = toUnsigned(generation);
  if (value > watermark) watermark = value;
}

void handleMeasure(RendererContext& context, const JsonObject& request, ByteWriter& out,
                   uint64_t watermark) {
  LayoutRequest r;
  if (!readLayoutRequest(request, watermark, r)) return;

  std::string reply;
  // Room for typical items; never more than a reply may hold.
  reply.reserve(std::min<size_t>(128 + r.fontIds.size() * 64, kMaxJsonLength));
  appendRequestEcho(reply, r);
  reply += ",\"items\":[";
  for (size_t i = 0; i < r.fontIds.size(); ++i) {
    const LayoutResult layout = measureFont(context, r.fontIds[i], r);
    // A reply above the frame limit is lost whatever follows: the remaining fonts are still
    // measured (and cached), but the text stops growing.
    if (reply.size() > kMaxJsonLength) continue;
    if (i != 0) reply.push_back(',');
    reply += "{\"fontId\":";
    appendQuotedUtf16(reply, r.fontIds[i]);
    reply += ",\"resolved\":";
    if (layout.resolved) {
      reply += "true,\"height\":";
      appendFloat(reply, layout.height);
      reply += ",\"lineCount\":";
      appendUnsigned(reply, layout.lineCount);
    } else {
      reply += "false,\"error\":";
      appendQuotedJson(reply, layout.error);
    }
    reply.push_back('}');
  }
  // The host sees no MeasureResult for a request whose reply is above the frame limit.
  if (reply.size() > kMaxJsonLength) return;
  reply += "]}";
  writeFrame(out, kMeasureResult, reply);
}

bool handleRender(RendererContext& context, const JsonObject& request, ByteWriter& out,
                  Frame& frame, uint64_t watermark) {
  LayoutRequest r;
  if (!readLayoutRequest(request, watermark, r)) return true;

  std::string head;
  appendRequestEcho(head, r);
  for (const std::u16string& fontId : r.fontIds) {
    const LayoutResult layout = measureFont(context, fontId, r);
    std::vector<uint8_t>& pixels = frame.payload;
    uint32_t pixelWidth = 0, pixelHeight = 0;
    const bool ok = layout.resolved && rasterizeLayout(context.platform(), layout, r.width,
                                                       r.dpiScale, pixels, pixelWidth, pixelHeight);
    std::string& reply = frame.json;
    reply = head;
    reply += ",\"fontId\":";
    appendQuotedUtf16(reply, fontId);
    reply += ",\"resolved\":";
    if (ok) {
      reply += "true,\"width\":";
      appendUnsigned(reply, pixelWidth);
      reply += ",\"height\":";
      appendUnsigned(reply, pixelHeight);
      reply += ",\"stride\":";
      appendUnsigned(reply, pixelWidth);
      reply += ",\"textHeight\":";
      appendFloat(reply, layout.height);
      reply += ",\"pixelFormat\":\"A8\"}";
    } else {
      reply += "false,\"error\":";
      appendQuotedJson(reply, layout.error.empty() ? errors::kRasterizeFailed : layout.error);
      reply.push_back('}');
      pixels.clear();
    }
    if (!writeFrame(out, kRenderResult, reply, pixels.data(), pixels.size())) return false;
  }
  return true;
}

}  // namespace kfp
