// Every failure of the package is an Error subclass with a string `code`.

// The renderer answered a request with an Error or FatalError frame; `code` is the renderer's code.
export class RendererError extends Error {
  constructor(code, message = `renderer answered ${code}`) {
    super(message);
    this.name = 'RendererError';
    this.code = code;
  }
}

// The renderer wrote bytes that are not a valid reply; the renderer is killed.
export class ProtocolError extends Error {
  constructor(message) {
    super(`malformed reply from the renderer: ${message}`);
    this.name = 'ProtocolError';
    this.code = 'MALFORMED_REPLY';
  }
}

// The renderer process ended (or could not start) while a reply was owed.
export class RendererExitError extends Error {
  constructor(exitCode, signal, message) {
    super(message ?? `renderer exited (${signal ? `signal ${signal}` : `code ${exitCode}`})`);
    this.name = 'RendererExitError';
    this.code = 'RENDERER_EXITED';
    this.exitCode = exitCode;
    this.signal = signal;
  }
}

// The renderer did not answer within the reply timeout; it is killed.
export class TimeoutError extends Error {
  constructor(ms) {
    super(`renderer did not answer within ${ms} ms`);
    this.name = 'TimeoutError';
    this.code = 'RENDERER_TIMEOUT';
  }
}

// The request was cancelled: by its AbortSignal, by a newer request that superseded it, or by close().
export class AbortError extends Error {
  constructor(message = 'the request was cancelled', options) {
    super(message, options);
    this.name = 'AbortError';
    this.code = 'ABORT_ERR';
  }
}

// A call on a PreviewService after close().
export class ServiceClosedError extends Error {
  constructor(message = 'the preview service is closed') {
    super(message);
    this.name = 'ServiceClosedError';
    this.code = 'SERVICE_CLOSED';
  }
}

// A TypeError or RangeError whose `code` names what was wrong (INVALID_TEXT, INVALID_WIDTH ...).
export function invalid(Type, code, message) {
  const error = new Type(message);
  error.code = code;
  return error;
}
