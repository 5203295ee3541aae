#include "host/registration_handlers.h"

#include <cmath>
#include <optional>

#include "base/json.h"
#include "fonts/font_registry.h"
#include "host/messages.h"
#include "host/renderer_context.h"
#include "host/replies.h"
#include "protocol/frame.h"

namespace kfp {
namespace {

void writeError(ByteWriter& out, std::string_view code) {
  writeErrorReply(out, kError, code);
}

bool commit(RendererContext& context) {
  if (!context.registry().commitRegistration()) return false;
  // No resolution may outlive the set of fonts it was made from.
  context.dropResolvedFonts();
  return true;
}

void writeFontsRegistered(RendererContext& context, ByteWriter& out) {
  writeFrame(out, kFontsRegistered, fontsRegisteredJson(context.registry().activeCount()));
}

}  // namespace

void handleRegisterFonts(RendererContext& context, const JsonObject& request, ByteWriter& out) {
  const std::optional<JsonArray> fonts = request.findNamedArray(u"fonts");
  if (!fonts) return writeError(out, errors::kInvalidFontList);
  if (fonts->size() > kMaxRegisteredFonts) return writeError(out, errors::kTooManyFonts);

  FontRegistry& registry = context.registry();
  registry.beginRegistration(fonts->size());
  if (!registry.addFontBatch(*fonts, /*isChunk=*/false) || !commit(context)) {
    registry.abandonRegistration();
    return writeError(out, errors::kTooManyFonts);
  }
  writeFontsRegistered(context, out);
}

void handleBeginFonts(RendererContext& context, const JsonObject& request, ByteWriter& out) {
  const double count = request.getNamedNumber(u"fontCount", -1);
  // NaN fails the floor comparison too.
  if (count < 0 || count > double(kMaxRegisteredFonts) || !(std::floor(count) == count)) {
    context.registry().abandonRegistration();
    return writeError(out, errors::kInvalidFontCount);
  }
  context.registry().beginRegistration(static_cast<uint64_t>(count));
  writeFrame(out, kBeginFontsAck, kEmptyObjectJson);
}

void handleFontChunk(RendererContext& context, const JsonObject& request, ByteWriter& out) {
  FontRegistry& registry = context.registry();
  const std::optional<JsonArray> fonts = request.findNamedArray(u"fonts");
  if (!fonts) {
    registry.abandonRegistration();
    return writeError(out, errors::kInvalidFontList);
  }
  if (!registry.addFontBatch(*fonts, /*isChunk=*/true)) {
    registry.abandonRegistration();
    return writeError(out, errors::kInvalidFontChunk);
  }
  writeFrame(out, kFontChunkAck, fontChunkAckJson(registry.receivedCount()));
}

void handleCommitFonts(RendererContext& context, ByteWriter& out) {
  if (!commit(context)) {
    context.registry().abandonRegistration();
    return writeError(out, errors::kIncompleteFontRegistration);
  }
  writeFontsRegistered(context, out);
}

}  // namespace kfp
