// The records of a /render reply, read from its body as they arrive: u32 LE JSON length, JSON,
// u32 LE payload length, payload. The chunks that arrive are kept as they are and each record's
// bytes copied out once, not the unread rest at every chunk.
export async function readRecords(reader, onRecord) {
  const chunks = new Chunks();
  const decoder = new TextDecoder();
  for (;;) {
    const { value, done } = await reader.read();
    if (done) return;
    chunks.push(value);
    for (;;) {
      if (chunks.length < 4) break;
      const jsonLength = chunks.u32(0);
      if (chunks.length < 8 + jsonLength) break;
      const payloadLength = chunks.u32(4 + jsonLength);
      const end = 8 + jsonLength + payloadLength;
      if (chunks.length < end) break;
      const bytes = chunks.take(end);
      const json = JSON.parse(decoder.decode(bytes.subarray(4, 4 + jsonLength)));
      onRecord(json, bytes.subarray(8 + jsonLength, end));
    }
  }
}

// A queue of received bytes.
class Chunks {
  #list = [];
  #offset = 0; // bytes of the first chunk already taken
  length = 0;

  push(chunk) {
    if (!chunk.length) return;
    this.#list.push(chunk);
    this.length += chunk.length;
  }

  // The little-endian u32 at `at` bytes from the front.
  u32(at) {
    let value = 0;
    for (let k = 3; k >= 0; k--) value = value * 256 + this.#byte(at + k);
    return value;
  }

  #byte(at) {
    let i = 0;
    at += this.#offset;
    while (at >= this.#list[i].length) at -= this.#list[i++].length;
    return this.#list[i][at];
  }

  // Removes and returns the first n bytes.
  take(n) {
    const first = this.#list[0];
    let out;
    if (first.length - this.#offset >= n) {
      out = first.slice(this.#offset, this.#offset + n); // a copy: a kept bitmap keeps no chunk alive
      this.#offset += n;
    } else {
      out = new Uint8Array(n);
      let filled = 0;
      while (filled < n) {
        const chunk = this.#list[0];
        const part = chunk.subarray(this.#offset, this.#offset + Math.min(n - filled, chunk.length - this.#offset));
        out.set(part, filled);
        filled += part.length;
        this.#offset += part.length;
        if (this.#offset === chunk.length) {
          this.#list.shift();
          this.#offset = 0;
        }
      }
    }
    if (this.#list.length && this.#offset === this.#list[0].length) {
      this.#list.shift();
      this.#offset = 0;
    }
    this.length -= n;
    return out;
  }
}
