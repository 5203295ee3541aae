// The one-renderer client against the real renderer: every message and its replies.
import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';

import { MessageType, Renderer, RendererError } from '../index.js';
import { inked, rendererPath } from './helpers.js';
import { sendRaw } from '../src/testing.js';

let renderer;
before(async () => {
  renderer = await Renderer.start({ rendererPath });
});
after(async () => {
  assert.equal(renderer.stderr, '');
  assert.deepEqual(await renderer.shutdown(), { exitCode: 0, signal: null, fatal: null });
});

const dejaVu = { fontId: 'sans', familyName: 'DejaVu Sans' };

test('handshake and protocol mismatch', { timeout: 60000 }, async () => {
  assert.deepEqual(await renderer.hello(), { protocolVersion: 1, rendererVersion: '2', pixelFormat: 'A8' });
  await assert.rejects(renderer.hello(2), (e) => e instanceof RendererError && e.code === 'PROTOCOL_MISMATCH');
});

test('registration errors carry the renderer code and keep the previous set', { timeout: 60000 }, async (t) => {
  assert.equal(await renderer.registerFonts([dejaVu]), 1);
  const cases = [
    ['fonts not an array', () => renderer.registerFonts('x'), 'INVALID_FONT_LIST'],
    ['repeated id', () => renderer.registerFonts([dejaVu, dejaVu]), 'TOO_MANY_FONTS'],
    ['bad count', () => renderer.beginFonts(-1), 'INVALID_FONT_COUNT'],
    ['chunk without begin', () => renderer.fontChunk([dejaVu]), 'INVALID_FONT_CHUNK'],
    ['commit without begin', () => renderer.commitFonts(), 'INCOMPLETE_FONT_REGISTRATION'],
    ['chunked, one short', async () => {
      await renderer.beginFonts(2);
      assert.equal(await renderer.fontChunk([{ fontId: 'x', familyName: 'DejaVu Serif' }]), 1);
      return renderer.commitFonts();
    }, 'INCOMPLETE_FONT_REGISTRATION'],
  ];
  for (const [name, call, code] of cases) {
    await t.test(name, async () => {
      await assert.rejects(call(), (e) => e instanceof RendererError && e.code === code);
      const m = await renderer.measure({ generation: 1, text: 'a', fontIds: ['sans', 'x'] });
      assert.deepEqual(m.items.map((i) => i.error ?? 'ok'), ['ok', 'FONT_NOT_REGISTERED']);
    });
  }
});

test('chunked registration replaces the set', { timeout: 60000 }, async () => {
  const fonts = Array.from({ length: 600 }, (_, i) => ({ fontId: `f${i}`, familyName: 'DejaVu Sans Mono' }));
  assert.equal(await renderer.registerFontsChunked(fonts), 600);
  const m = await renderer.measure({ generation: 1, text: 'a', fontIds: ['f599', 'sans'] });
  assert.deepEqual(m.items.map((i) => i.error ?? 'ok'), ['ok', 'FONT_NOT_REGISTERED']);
  assert.equal(await renderer.registerFonts([dejaVu, { fontId: 'missing', familyName: 'No Such Family' }]), 2);
});

test('measure and render agree, bitmaps have the documented size and ink', { timeout: 60000 }, async (t) => {
  for (const [text, fontSize, width, dpiScale] of [
    ['Hello', 28, 300, 1],
    ['Hello world, wrapped over lines', 20, 60, 2],
    ['', 12, 100, 1.5],
  ]) {
    await t.test(`${JSON.stringify(text)} ${fontSize} ${width} ×${dpiScale}`, async () => {
      const request = { requestId: 7, generation: 1, layoutKey: 'k', text, fontSize, width, dpiScale, fontIds: ['sans', 'missing', 'unregistered'] };
      const m = await renderer.measure(request);
      assert.equal(m.requestId, 7);
      assert.equal(m.layoutKey, 'k');
      const [r, missing, unregistered] = await renderer.renderAll(request);
      assert.deepEqual([missing.error, unregistered.error], ['FONT_NOT_FOUND', 'FONT_NOT_REGISTERED']);
      assert.deepEqual([m.items[1].error, m.items[2].error], ['FONT_NOT_FOUND', 'FONT_NOT_REGISTERED']);
      assert.equal(r.resolved, true);
      assert.equal(r.width, Math.ceil(width * dpiScale));
      assert.equal(r.height, Math.ceil(r.textHeight * dpiScale));
      assert.equal(r.textHeight, m.items[0].height);
      assert.equal(r.bitmap.length, r.stride * r.height);
      assert.equal(inked(r.bitmap), text !== '');
      if (text.includes('wrapped')) assert.ok(m.items[0].lineCount > 1);
    });
  }
});

test('per-font layout errors', { timeout: 60000 }, async () => {
  const [tooSmall] = await renderer.renderAll({ generation: 1, text: 'a', fontSize: 2, fontIds: ['sans'] });
  assert.equal(tooSmall.error, 'INVALID_LAYOUT');
  const [tooLarge] = await renderer.renderAll({ generation: 1, text: 'a'.repeat(200), fontSize: 256, width: 8192, dpiScale: 8, fontIds: ['sans'] });
  assert.equal(tooLarge.error, 'RASTERIZE_FAILED');
});

test('stale requests are answered with nothing, and later replies still match', { timeout: 60000 }, async () => {
  renderer.setGeneration(5);
  assert.equal(await renderer.measure({ generation: 5, text: 'a', fontIds: ['sans'] }), null);
  assert.deepEqual(await renderer.renderAll({ generation: 3, text: 'a', fontIds: ['sans'] }), []);
  renderer.setGeneration(2); // never lowers the watermark
  assert.equal(renderer.watermark, 5);
  const m = await renderer.measure({ generation: 6, text: 'a', fontIds: ['sans'] });
  assert.equal(m.generation, 6);
  await renderer.ping();
});

test('a MeasureResult over the reply limit is reported, not waited for', { timeout: 60000 }, async () => {
  // 50000 ids of 120 characters: the request fits in 8 MiB, its reply does not.
  const id = 'u'.repeat(120);
  const request = { generation: 10, text: 'a', fontIds: new Array(50000).fill(id) };
  await assert.rejects(renderer.measure(request), (e) => e.code === 'MEASURE_RESULT_DROPPED');
  await renderer.ping();
});

test('unknown messages, bad JSON, ClearCache', { timeout: 60000 }, async () => {
  const [unknown] = await sendRaw(renderer, 99, '{}', null, { replies: 1 });
  assert.deepEqual([unknown.type, unknown.json], [MessageType.error, { error: 'UNKNOWN_MESSAGE' }]);
  const [invalid] = await sendRaw(renderer, MessageType.ping, '{', null, { replies: 1 });
  assert.deepEqual(invalid.json, { error: 'INVALID_JSON' });
  renderer.clearCache();
  const m = await renderer.measure({ generation: 11, text: 'a', fontIds: ['sans'] });
  assert.equal(m.items[0].resolved, true);
});
