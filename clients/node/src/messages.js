// Message types, error codes and exit codes of the renderer protocol (docs/protocol.md).

export const MessageType = Object.freeze({
  hello: 1,
  helloAck: 2,
  registerFonts: 3,
  fontsRegistered: 4,
  measure: 5,
  measureResult: 6,
  render: 7,
  renderResult: 8,
  setGeneration: 9,
  ping: 10,
  pong: 11,
  shutdown: 12,
  error: 13,
  fatalError: 14,
  clearCache: 15,
  beginFonts: 16,
  beginFontsAck: 17,
  fontChunk: 18,
  fontChunkAck: 19,
  commitFonts: 20,
});

export const typeName = (type) =>
  Object.keys(MessageType).find((k) => MessageType[k] === type) ?? `type ${type}`;

// Whole-message errors (Error and FatalError frames).
export const MessageErrorCode = Object.freeze([
  'INVALID_JSON',
  'PROTOCOL_MISMATCH',
  'UNKNOWN_MESSAGE',
  'INTERNAL_ERROR',
  'INITIALIZE_FAILED',
  'INVALID_FONT_LIST',
  'TOO_MANY_FONTS',
  'INVALID_FONT_COUNT',
  'INVALID_FONT_CHUNK',
  'INCOMPLETE_FONT_REGISTRATION',
  'MEMORY_HARD_LIMIT',
]);

// Per-font errors inside MeasureResult items and RenderResult frames.
export const FontErrorCode = Object.freeze([
  'FONT_NOT_REGISTERED',
  'FONT_NOT_FOUND',
  'FONT_COLLECTION_CREATE_FAILED',
  'FONT_FAMILY_NAME_FAILED',
  'INVALID_LAYOUT',
  'TEXT_FORMAT_FAILED',
  'FONT_AXIS_FAILED',
  'TEXT_LAYOUT_FAILED',
  'TEXT_METRICS_FAILED',
  'GDI_FONT_FAILED',
  'GDI_MEASURE_FAILED',
  'RASTERIZE_FAILED',
]);

export const ExitCode = Object.freeze({
  ended: 0, // end of input, malformed frame or Shutdown
  unusableStreams: 2,
  initializeFailed: 3,
  renderResultNotWritten: 4,
  memoryHardLimit: 75,
});

export const kProtocolVersion = 1;
export const kMaxFrameLength = 64 * 1024 * 1024;
export const kMaxJsonLength = 8 * 1024 * 1024;
export const kMaxFontsPerRegistration = 50000;
export const kMaxFontsPerChunk = 250;
