#pragma once
// Measure, Render and SetGeneration, with the generation watermark that cancels stale work.

#include <cstdint>

namespace kfp {

class ByteWriter;
struct Frame;
class JsonObject;
class RendererContext;

// 0 when not above 0; otherwise truncated toward zero, 2^64 and above giving 2^63.
uint64_t toUnsigned(double value);

// Writes zero or one MeasureResult.
void handleMeasure(RendererContext& context, const JsonObject& request, ByteWriter& out,
                   uint64_t watermark);
// Writes one RenderResult per font as soon as it is drawn; false when a frame could not be
// written, after which nothing more is written. Each reply is composed in `frame`, which the caller
// keeps from one Render to the next: a bitmap buffer used afresh for every font would fault in new
// pages each time.
bool handleRender(RendererContext& context, const JsonObject& request, ByteWriter& out,
                  Frame& frame, uint64_t watermark);
void handleSetGeneration(const JsonObject& request, uint64_t& watermark);

}  // namespace kfp
