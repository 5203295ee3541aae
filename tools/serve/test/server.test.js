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
  const sans = idOf('DejaVu Sans', 'Regular');
  const response = await render({ session: 's1', version: 1, text: 'Ok', size: 20, dpi: 2, width: 100, ids: `${sans},nope` });
  assert.equal(response.status, 200);
  const [r, ...rest] = parseRecords(Buffer.from(await response.arrayBuffer()));
  assert.deepEqual(rest, []);
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

test('a bitmap drawn before is sent again only for the same font, text and layout', { timeout: 60000 }, async (t) => {
  const sans = idOf('DejaVu Sans', 'Regular');
  const serif = idOf('DejaVu Serif', 'Regular');
  const base = { text: 'Cache me', size: 20, dpi: 1, width: 300 };
  let version = 0;
  const draw = async (params, ids = sans) => {
    const body = Buffer.from(await (await render({ session: 'c1', version: ++version, ids, ...params })).arrayBuffer());
    const records = parseRecords(body);
    // Each record's payload, to compare bytes.
    let at = 0;
    return records.map((r) => {
      const jsonLength = body.readUInt32LE(at);
      const start = at + 8 + jsonLength;
      at = start + r.payloadLength;
      return { ...r, payload: body.subarray(start, at) };
    });
  };
  const first = await draw(base);
  const renders = [];
  const original = server.service.render;
  server.service.render = (request, options) => (renders.push(request.fontIds), original.call(server.service, request, options));
  t.after(() => (server.service.render = original));
  const again = await draw(base);
  assert.deepEqual(renders, [], 'the same request is answered without the renderers');
  assert.deepEqual([again[0].width, again[0].height, again[0].text], [first[0].width, first[0].height, first[0].text]);
  assert.ok(again[0].payload.equals(first[0].payload), 'the same bytes');
  for (const [name, change, check] of [
    ['text', { text: 'Cache me!' }, (r) => r.text === 'Cache me!'],
    ['size', { size: 40 }, (r) => r.height > first[0].height],
    ['density', { dpi: 2 }, (r) => r.width === 600],
    ['wrap width', { width: 200 }, (r) => r.width === 200],
  ]) {
    await t.test(name, async () => {
      renders.length = 0;
      const [r] = await draw({ ...base, ...change });
      assert.deepEqual(renders, [[sans]], 'drawn by a renderer');
      assert.ok(check(r), JSON.stringify(r));
    });
  }
  await t.test('another font', async () => {
    renders.length = 0;
    const records = await draw(base, `${sans},${serif}`);
    assert.deepEqual(renders, [[serif]], 'only the font not drawn before');
    assert.deepEqual(records.map((r) => r.fontId).sort(), [sans, serif].sort());
  });
});

const bitSet = (answer, index) => (Buffer.from(answer.bits, 'base64')[index >> 3] & (1 << (index & 7))) !== 0;

test('coverage: one bit per font in page order, from the character sets', { timeout: 60000 }, async (t) => {
  const indexOf = (family, style) => fonts.findIndex((f) => f.family === family && f.style === style);
  const cases = [
    ['Devanagari', 'नमस्ते', [['Noto Sans Devanagari', 'Regular', true], ['DejaVu Sans', 'Regular', false]]],
    ['emoji with selector and modifier', '❤️👍🏽', [['Noto Color Emoji', 'Regular', true], ['DejaVu Sans', 'Regular', false]]],
    ['emoji among letters', 'I ❤️ it', [['DejaVu Sans', 'Regular', true], ['Noto Color Emoji', 'Regular', false]]],
    ['empty text: every font', '', [['DejaVu Sans', 'Regular', true], ['Noto Color Emoji', 'Regular', true]]],
  ];
  for (const [name, text, expected] of cases) {
    await t.test(name, async () => {
      const answer = await (await fetch(new URL(`/coverage?${new URLSearchParams({ text })}`, server.url))).json();
      assert.equal(answer.text, text);
      let count = 0;
      for (let i = 0; i < fonts.length; i++) count += bitSet(answer, i);
      assert.equal(answer.count, count);
      for (const [family, style, want] of expected) {
        const i = indexOf(family, style);
        if (i >= 0) assert.equal(bitSet(answer, i), want, `${family} ${style}`);
      }
    });
  }
});

test('measure-only ids get heights, no bitmaps; empty text draws each font’s sample', { timeout: 60000 }, async () => {
  const [a, b, c] = fonts.slice(0, 3).map((f) => f.id);
  const response = await render({ session: 'm1', version: 1, text: '', size: 20, ids: a, measure: `${b},${c},${a},nope` });
  const records = parseRecords(Buffer.from(await response.arrayBuffer()));
  const heights = records.filter((r) => r.measured);
  assert.deepEqual(heights.map((r) => r.fontId).sort(), [b, c].sort(), 'a font being drawn is not measured too');
  assert.ok(heights.every((r) => r.height > 0 && r.lines >= 1 && r.payloadLength === 0 && r.sample));
  const drawn = records.filter((r) => !r.measured);
  assert.deepEqual(drawn.map((r) => r.fontId), [a]);
  assert.ok(drawn[0].text.length > 0 && drawn[0].sample, 'the font’s own sample, labelled');
  // A measured height is the height the font is drawn at.
  const drawnB = bitmaps(await (await render({ session: 'm1', version: 2, text: '', size: 20, ids: b })).arrayBuffer());
  assert.equal(drawnB[0].height, heights.find((r) => r.fontId === b).height);
});

test('a variable font drawn at axis values; values are clamped and unknown axes ignored', { timeout: 60000 }, async (t) => {
  const inter = fonts.find((f) => f.family === 'Inter' && f.style === 'Regular');
  if (!inter) return t.skip('Inter is not installed');
  const details = await (await fetch(new URL(`/font?id=${inter.id}`, server.url))).json();
  assert.deepEqual(details.axes.find((a) => a.tag === 'wght'), { tag: 'wght', name: 'Weight', min: 100, default: 400, max: 900 });
  assert.match(details.file, /\.ttf$/);
  const draw = async (axes, version) => {
    const [r] = bitmaps(await (await render({ session: 'ax', version, text: 'Hamburg', size: 40, ids: inter.id, axes })).arrayBuffer());
    return r;
  };
  const thin = await draw('wght:100', 1);
  const black = await draw('wght:900', 2);
  const clamped = await draw('wght:5000,zzzz:3', 3);
  assert.deepEqual([thin.axes, black.axes, clamped.axes], [{ wght: 100 }, { wght: 900 }, { wght: 900 }]);
  assert.equal(thin.fontId, inter.id);
  assert.ok(thin.payloadLength > 0 && black.payloadLength > 0);
  // The ink differs: fetch the payloads themselves.
  const ink = async (axes, version) => {
    const body = Buffer.from(await (await render({ session: 'ax2', version, text: 'Hamburg', size: 40, ids: inter.id, axes })).arrayBuffer());
    const jsonLength = body.readUInt32LE(0);
    let sum = 0;
    for (const v of body.subarray(8 + jsonLength)) sum += v;
    return sum;
  };
  assert.ok((await ink('wght:900', 1)) > (await ink('wght:100', 2)) * 2, 'heavier weight, more ink');
  assert.equal((await fetch(new URL('/font?id=nope', server.url))).status, 404);
});
