#pragma once
// Measure, Render and SetGeneration, with the generation watermark that cancels stale work.

#include <cstdint>

namespace kfp {

class ByteWriter;
class FrameBatch;
class JsonObject;
class RendererContext;

// 0 when not above 0; otherwise truncated toward zero, 2^64 and above giving 2^63.
uint64_t toUnsigned(double value);

// Writes zero or one MeasureResult.
void handleMeasure(RendererContext& context, const JsonObject& request, ByteWriter& out,
                   uint64_t watermark);
// The batch that RenderResult frames leave through. Kept from one Render to the next, so that its
// buffers are reused.
FrameBatch makeRenderFrameBatch(ByteWriter& out);
// Writes one RenderResult per font, drawn in order and flushed a few at a time; false when a frame
// could not be written, after which nothing more is written.
bool handleRender(RendererContext& context, const JsonObject& request, FrameBatch& frames,
                  uint64_t watermark);
void handleSetGeneration(const JsonObject& request, uint64_t& watermark);

}  // namespace kfp
