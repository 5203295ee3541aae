export { PreviewService, kRendererCrashed, kReplyTooLarge } from './src/service.js';
export { Renderer, defaultRendererPath } from './src/renderer.js';
export { a8ToRgba } from './src/bitmap.js';
export { listInstalledFonts } from './src/installed_fonts.js';
export { AbortError, ProtocolError, RendererError, RendererExitError, ServiceClosedError, TimeoutError } from './src/errors.js';
export { encodeFrame, FrameDecoder } from './src/frames.js';
export {
  ExitCode,
  FontErrorCode,
  kMaxFontsPerChunk,
  kMaxFontsPerRegistration,
  kProtocolVersion,
  MessageErrorCode,
  MessageType,
} from './src/messages.js';
export { kMaxTextLength } from './src/validate.js';
