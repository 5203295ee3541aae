import assert from 'node:assert/strict';
import { test } from 'node:test';

import { encodeFrame, FrameDecoder, ProtocolError } from '../index.js';
import { header } from './fixtures/frame_header.js';

test('frames survive any split of the stream', { timeout: 10000 }, () => {
  const frames = [
    encodeFrame(8, { fontId: 'ä', width: 2 }, Buffer.from([0, 128, 255])),
    encodeFrame(11, ''),
    encodeFrame(4, '{"fontCount":3}'),
  ];
  const stream = Buffer.concat(frames);
  for (const step of [1, 2, 7, 9, 13, stream.length]) {
    const decoder = new FrameDecoder();
    const got = [];
    for (let at = 0; at < stream.length; at += step) got.push(...decoder.push(stream.subarray(at, at + step)));
    assert.equal(decoder.buffered, 0, `step ${step}`);
    assert.deepEqual(
      got.map((f) => [f.type, f.json, [...f.payload]]),
      [
        [8, { fontId: 'ä', width: 2 }, [0, 128, 255]],
        [11, {}, []],
        [4, { fontCount: 3 }, []],
      ],
      `step ${step}`,
    );
  }
});

test('the encoder writes the documented layout', { timeout: 10000 }, () => {
  const bytes = encodeFrame(7, '{}', Buffer.from([9]));
  assert.deepEqual([...bytes], [8, 0, 0, 0, 7, 2, 0, 0, 0, 0x7b, 0x7d, 9]);
  assert.throws(() => encodeFrame(3, 'x'.repeat(8 * 1024 * 1024 + 1)), RangeError);
});

test('bytes that cannot be a frame are rejected with MALFORMED_REPLY', { timeout: 10000 }, async (t) => {
  const cases = [
    ['length below 5', header(4, 2, 0)],
    ['length above 64 MiB', header(64 * 1024 * 1024 + 1, 2, 0)],
    ['JSON longer than the frame', Buffer.concat([header(7, 2, 3), Buffer.from('{}')])],
    ['JSON above 8 MiB', header(9 * 1024 * 1024, 2, 8 * 1024 * 1024 + 1)],
    ['JSON that does not parse', encodeFrame(2, '{"a":')],
    ['JSON root not an object', encodeFrame(2, '"text"')],
    ['JSON null', encodeFrame(2, 'null')],
  ];
  for (const [name, bytes] of cases) {
    await t.test(name, () => {
      assert.throws(() => new FrameDecoder().push(bytes), (e) => e instanceof ProtocolError && e.code === 'MALFORMED_REPLY');
    });
  }
});
