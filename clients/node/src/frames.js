// Frame codec: u32 LE length (type + jsonLength + JSON + payload), u8 type, u32 LE jsonLength,
// UTF-8 JSON, payload.

import { kMaxFrameLength, kMaxJsonLength } from './messages.js';
import { ProtocolError } from './errors.js';

const kHeader = 9;

export function encodeFrame(type, json = '', payload = null) {
  const text = typeof json === 'string' ? json : JSON.stringify(json);
  const jsonLength = Buffer.byteLength(text);
  const payloadLength = payload ? payload.length : 0;
  const length = 5 + jsonLength + payloadLength;
  if (jsonLength > kMaxJsonLength || length > kMaxFrameLength) {
    const error = new RangeError(`frame too large (${length} bytes, JSON ${jsonLength} bytes)`);
    error.code = 'REQUEST_TOO_LARGE';
    throw error;
  }
  const frame = Buffer.allocUnsafe(4 + length);
  frame.writeUInt32LE(length, 0);
  frame.writeUInt8(type, 4);
  frame.writeUInt32LE(jsonLength, 5);
  frame.write(text, kHeader, 'utf8');
  if (payloadLength) frame.set(payload, kHeader + jsonLength);
  return frame;
}

// Incremental decoder: push() stream chunks, take whole frames {type, json, payload}.
// Throws ProtocolError on bytes that cannot be a frame; the stream cannot be resynchronised then.
export class FrameDecoder {
  #chunks = [];
  #buffered = 0;

  get buffered() {
    return this.#buffered;
  }

  push(chunk) {
    if (chunk.length) {
      this.#chunks.push(chunk);
      this.#buffered += chunk.length;
    }
    const frames = [];
    for (;;) {
      const frame = this.#next();
      if (!frame) return frames;
      frames.push(frame);
    }
  }

  #next() {
    if (this.#buffered < kHeader) return null;
    const head = this.#peek(kHeader);
    const length = head.readUInt32LE(0);
    const jsonLength = head.readUInt32LE(5);
    if (length < 5 || length > kMaxFrameLength) throw new ProtocolError(`frame length ${length}`);
    if (jsonLength > kMaxJsonLength || jsonLength > length - 5) {
      throw new ProtocolError(`JSON length ${jsonLength} in a frame of ${length}`);
    }
    if (this.#buffered < 4 + length) return null;
    const bytes = this.#take(4 + length);
    const text = bytes.toString('utf8', kHeader, kHeader + jsonLength);
    let json = {};
    if (jsonLength) {
      try {
        json = JSON.parse(text);
      } catch {
        throw new ProtocolError(`JSON that does not parse: ${text.slice(0, 80)}`);
      }
      if (json === null || typeof json !== 'object' || Array.isArray(json)) {
        throw new ProtocolError(`JSON root is not an object: ${text.slice(0, 80)}`);
      }
    }
    return { type: bytes[4], json, payload: bytes.subarray(kHeader + jsonLength) };
  }

  #peek(n) {
    if (this.#chunks[0].length < n) this.#chunks = [Buffer.concat(this.#chunks)];
    return this.#chunks[0];
  }

  #take(n) {
    const whole = this.#chunks[0].length >= n ? this.#chunks[0] : Buffer.concat(this.#chunks);
    this.#chunks = whole.length > n ? [whole.subarray(n)] : [];
    this.#buffered -= n;
    return whole.subarray(0, n);
  }
}
