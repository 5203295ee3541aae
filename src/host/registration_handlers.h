#pragma once
// RegisterFonts, BeginFonts, FontChunk and CommitFonts: each writes exactly one reply frame.

namespace kfp {

class ByteWriter;
class JsonObject;
class RendererContext;

void handleRegisterFonts(RendererContext& context, const JsonObject& request, ByteWriter& out);
void handleBeginFonts(RendererContext& context, const JsonObject& request, ByteWriter& out);
void handleFontChunk(RendererContext& context, const JsonObject& request, ByteWriter& out);
void handleCommitFonts(RendererContext& context, ByteWriter& out);

}  // namespace kfp
