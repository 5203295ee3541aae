// The page's reader of /render replies, fed the same records cut into chunks every way that can
// split a length, a JSON text or a payload.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { readRecords } from '../page/records.js';

function encode(json, payload) {
  const text = Buffer.from(JSON.stringify(json));
  const head = Buffer.alloc(4);
  head.writeUInt32LE(text.length);
  const size = Buffer.alloc(4);
  size.writeUInt32LE(payload.length);
  return Buffer.concat([head, text, size, payload]);
}

const pattern = (n, seed) => Buffer.from(Array.from({ length: n }, (_, i) => (i * 31 + seed) & 255));
const records = [
  [{ fontId: 'f1', text: 'Hamburgefonstiv', width: 3, height: 2 }, pattern(6, 1)],
  [{ fontId: 'f2', measured: true, height: 40 }, Buffer.alloc(0)],
  [{ fontId: 'f3', text: 'नमस्ते ❤️', width: 300, height: 100 }, pattern(30000, 7)], // larger than most chunks
  [{ fontId: 'f4', error: 'FONT_NOT_REGISTERED' }, Buffer.alloc(0)],
  [{ fontId: 'f5', text: 'x', width: 1, height: 1 }, pattern(1, 9)],
];
const stream = Buffer.concat(records.map(([json, payload]) => encode(json, payload)));

// A reader that hands out the stream in chunks of the given sizes, repeating the last.
function readerOf(bytes, sizes) {
  let at = 0;
  let k = 0;
  return {
    async read() {
      if (at >= bytes.length) return { done: true };
      const n = sizes[Math.min(k++, sizes.length - 1)];
      const chunk = new Uint8Array(bytes.subarray(at, at + n)); // a buffer of its own, as the network gives
      at += n;
      return { value: chunk, done: false };
    },
  };
}

test('every record comes out whole, however the reply is cut', async (t) => {
  const bounds = [];
  for (let at = 0, i = 0; i < records.length; i++) bounds.push((at += encode(...records[i]).length));
  const cases = [
    ['one chunk', [stream.length]],
    ['a byte at a time', [1]],
    ['three bytes at a time', [3]],
    ['seven bytes at a time', [7]],
    ['network-sized chunks', [4096]],
    ['a chunk per record', bounds.map((end, i) => end - (bounds[i - 1] ?? 0))],
    ['an empty chunk among them', [5, 0, 11, 0, 65536]],
    ['cut inside the first length, then the rest', [2, stream.length]],
    ['cut between JSON and payload length', [4 + JSON.stringify(records[0][0]).length, stream.length]],
  ];
  for (const [name, sizes] of cases) {
    await t.test(name, async () => {
      const got = [];
      await readRecords(readerOf(stream, sizes), (json, payload) => got.push([json, payload]));
      assert.equal(got.length, records.length);
      got.forEach(([json, payload], i) => {
        assert.deepEqual(json, records[i][0]);
        assert.deepEqual(Buffer.from(payload), records[i][1], `payload of ${json.fontId}`);
        // A payload the page keeps must not hold a whole network chunk in memory.
        assert.equal(payload.buffer.byteLength, encode(...records[i]).length, `${json.fontId} holds its record only`);
      });
    });
  }
});

test('a reply cut off inside a record ends without a partial record', async () => {
  const got = [];
  await readRecords(readerOf(stream.subarray(0, stream.length - 3), [1000]), (json) => got.push(json.fontId));
  assert.deepEqual(got, ['f1', 'f2', 'f3', 'f4']);
});
