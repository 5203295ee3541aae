// The page's HTTP endpoints without a browser: the record stream, stale versions, cancellation.
import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';

import { startServer } from '../server.js';

let server;
let fonts;
before(async () => {
  server = await startServer({ workers: 1 });
  fonts = await (await fetch(new URL('/fonts', server.url))).json();
});
after(() => server.close());

function parseRecords(bytes) {
  const records = [];
  for (let at = 0; at < bytes.length; ) {
    const jsonLength = bytes.readUInt32LE(at);
    const json = JSON.parse(bytes.toString('utf8', at + 4, at + 4 + jsonLength));
    const payloadLength = bytes.readUInt32LE(at + 4 + jsonLength);
    records.push({ ...json, payloadLength });
    at += 8 + jsonLength + payloadLength;
  }
  return records;
}

const bitmaps = (body) => parseRecords(Buffer.from(body)).filter((r) => !r.measured);
const render = (params) => fetch(new URL(`/render?${new URLSearchParams(params)}`, server.url));
const idOf = (family, style) => fonts.find((f) => f.family === family && f.style === style).id;

test('one record per known font, typed text or the font’s sample, A8 of width × height', { timeout: 60000 }, async () => {
  const sans = idOf('DejaVu Sans', 'Book');
  const response = await render({ session: 's1', version: 1, text: 'Ok', size: 20, dpi: 2, width: 100, ids: `${sans},nope` });
  assert.equal(response.status, 200);
  const [m, r, ...rest] = parseRecords(Buffer.from(await response.arrayBuffer()));
  assert.deepEqual(rest, []);
  // The height comes before the bitmap, and matches it.
  assert.deepEqual([m.fontId, m.measured, m.text, m.payloadLength], [sans, true, 'Ok', 0]);
  assert.equal(m.height * 2, r.height);
  assert.deepEqual([r.fontId, r.text, r.sample, r.version, r.width], [sans, 'Ok', '', 1, 200]);
  assert.equal(r.payloadLength, r.width * r.height);

  const devanagari = await render({ session: 's1', version: 2, text: 'नमस्ते', ids: sans });
  const [d] = bitmaps(await devanagari.arrayBuffer());
  assert.deepEqual([d.sample, d.text], ['Latin', 'The quick brown fox']);
});

test('an older version of a session is refused; a newer one cancels it', { timeout: 60000 }, async () => {
  await (await render({ session: 's2', version: 5, text: 'a', ids: '' })).arrayBuffer();
  assert.equal((await render({ session: 's2', version: 4, text: 'a', ids: fonts[0].id })).status, 409);
  const all = fonts.map((f) => f.id).join(',');
  const older = await render({ session: 's2', version: 6, text: 'older '.repeat(30), ids: all });
  const newer = await render({ session: 's2', version: 7, text: 'newer', ids: fonts[0].id });
  const olderRecords = bitmaps(await older.arrayBuffer());
  const newerRecords = bitmaps(await newer.arrayBuffer());
  assert.ok(olderRecords.length < Math.min(fonts.length, 200), `cancelled after ${olderRecords.length} records`);
  assert.deepEqual(newerRecords.map((r) => [r.text, r.version]), [['newer', 7]]);
  // Another session is not affected by s2's versions.
  const other = await render({ session: 's3', version: 1, text: 'x', ids: fonts[0].id });
  assert.equal(bitmaps(await other.arrayBuffer()).length, 1);
});
