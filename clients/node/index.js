export { PreviewService, kRendererCrashed } from './src/service.js';
export { Renderer, defaultRendererPath } from './src/renderer.js';
export { AbortError, ProtocolError, RendererError, RendererExitError, TimeoutError } from './src/errors.js';
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
