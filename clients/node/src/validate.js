// Checks of what a host passes in, made before anything is sent: a wrong field fails at once with
// a TypeError (wrong kind of value) or RangeError (out of range) whose `code` names the field,
// instead of coming back as INVALID_LAYOUT on every font.

import { invalid } from './errors.js';

export const kMaxTextLength = 200; // UTF-16 code units

// The renderer reads these as 32-bit floats and checks the value it reads, so the check here is
// made on that value too (256.000001 is 256 to the renderer).
const kRanges = [
  ['fontSize', 4, 256, 'INVALID_FONT_SIZE'],
  ['width', 1, 8192, 'INVALID_WIDTH'],
  ['dpiScale', 0.5, 8, 'INVALID_DPI_SCALE'],
];

const isObject = (value) => value !== null && typeof value === 'object';

export function checkRequest(request) {
  if (!isObject(request)) throw invalid(TypeError, 'INVALID_REQUEST', 'the request must be an object');
  const { fontIds, text, requestId, layoutKey } = request;
  if (!Array.isArray(fontIds) || !fontIds.every((id) => typeof id === 'string')) {
    throw invalid(TypeError, 'INVALID_FONT_IDS', 'request.fontIds must be an array of strings');
  }
  if (text !== undefined) {
    if (typeof text !== 'string') throw invalid(TypeError, 'INVALID_TEXT', 'request.text must be a string');
    if (text.length > kMaxTextLength) {
      throw invalid(RangeError, 'INVALID_TEXT', `request.text has ${text.length} UTF-16 code units, more than ${kMaxTextLength}`);
    }
  }
  for (const [field, low, high, code] of kRanges) {
    const value = request[field];
    if (value === undefined) continue;
    if (typeof value !== 'number') throw invalid(TypeError, code, `request.${field} must be a number`);
    const read = Math.fround(value);
    if (!(read >= low && read <= high)) throw invalid(RangeError, code, `request.${field} is ${value}, outside ${low} to ${high}`);
  }
  if (requestId !== undefined) {
    if (typeof requestId !== 'number') throw invalid(TypeError, 'INVALID_REQUEST_ID', 'request.requestId must be a number');
    if (!Number.isSafeInteger(requestId) || requestId < 0) {
      throw invalid(RangeError, 'INVALID_REQUEST_ID', `request.requestId is ${requestId}, not a whole number from 0 to 2^53 - 1`);
    }
  }
  if (layoutKey !== undefined && typeof layoutKey !== 'string') {
    throw invalid(TypeError, 'INVALID_LAYOUT_KEY', 'request.layoutKey must be a string');
  }
}

export function checkRequestOptions(options) {
  if (options === undefined) return;
  if (!isObject(options)) throw invalid(TypeError, 'INVALID_OPTION', 'the request options must be an object');
  const { signal, supersede } = options;
  if (signal !== undefined && !(typeof signal?.aborted === 'boolean' && typeof signal.addEventListener === 'function')) {
    throw invalid(TypeError, 'INVALID_OPTION', 'options.signal must be an AbortSignal');
  }
  if (supersede !== undefined && typeof supersede !== 'boolean') {
    throw invalid(TypeError, 'INVALID_OPTION', 'options.supersede must be a boolean');
  }
}

// Descriptors must be objects; their ids are checked by the renderer (TOO_MANY_FONTS), which
// keeps the previous set on any refusal.
export function checkFonts(fonts) {
  if (!Array.isArray(fonts) || !fonts.every(isObject)) {
    throw invalid(TypeError, 'INVALID_FONTS', 'the fonts must be an array of font descriptors');
  }
}

const positiveInteger = (value) => Number.isSafeInteger(value) && value > 0;

export function checkServiceOptions({ rendererPath, args, workers, replyTimeout, maxStartFailures, batchSize, spawn }) {
  const wrong = (Type, message) => invalid(Type, 'INVALID_OPTION', message);
  if (typeof rendererPath !== 'string' || !rendererPath) throw wrong(TypeError, 'rendererPath must be a non-empty string');
  if (!Array.isArray(args) || !args.every((a) => typeof a === 'string')) throw wrong(TypeError, 'args must be an array of strings');
  if (!positiveInteger(workers)) throw wrong(RangeError, `workers is ${workers}, not a whole number above 0`);
  if (!(typeof replyTimeout === 'number' && replyTimeout > 0 && replyTimeout <= 2 ** 31 - 1)) {
    throw wrong(RangeError, `replyTimeout is ${replyTimeout}, not a number of milliseconds from 1 to 2^31 - 1`);
  }
  if (!positiveInteger(maxStartFailures)) throw wrong(RangeError, `maxStartFailures is ${maxStartFailures}, not a whole number above 0`);
  if (batchSize !== undefined && !positiveInteger(batchSize)) throw wrong(RangeError, `batchSize is ${batchSize}, not a whole number above 0`);
  if (spawn !== undefined && typeof spawn !== 'function') throw wrong(TypeError, 'spawn must be a function');
}
