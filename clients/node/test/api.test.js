// The package's surface: request fields refused before anything is sent, the codes of every error
// it throws (and that they are documented), setFonts replacing the set, the A8-to-RGBA helper.
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { readFileSync } from 'node:fs';
import { test } from 'node:test';

import { a8ToRgba, PreviewService, Renderer } from '../index.js';
import { alive, fakeRendererPath, rendererPath } from './helpers.js';
import { rendererPids, sendRaw } from '../src/testing.js';

// Codes as index.d.ts lists them in ErrorCode, and as the README's table names them.
const declarations = readFileSync(new URL('../index.d.ts', import.meta.url), 'utf8');
const readme = readFileSync(new URL('../README.md', import.meta.url), 'utf8');
const declaredCodes = (typeName) => {
  const body = declarations.match(new RegExp(`export type ${typeName} =([^;]*);`))?.[1] ?? '';
  const codes = [...body.matchAll(/'([A-Z_]+)'/g)].map((m) => m[1]);
  for (const [, other] of body.matchAll(/\| ([A-Z][A-Za-z]+)/g)) codes.push(...declaredCodes(other));
  return codes;
};
const thrownCodes = new Set();
const coded = (Type, code) => (e) => {
  thrownCodes.add(e.code);
  return e instanceof Type && e.code === code;
};

function spawnCounter() {
  const counter = { calls: 0 };
  counter.spawn = (...args) => {
    counter.calls++;
    return spawn(...args);
  };
  return counter;
}

const base = { text: 'Hamburg', fontIds: ['sans'] };

test('request fields are refused before anything is sent, with a code that names the field', { timeout: 60000 }, async (t) => {
  const cases = [
    ['no request', undefined, TypeError, 'INVALID_REQUEST'],
    ['request not an object', 'text', TypeError, 'INVALID_REQUEST'],
    ['no fontIds', { text: 'a' }, TypeError, 'INVALID_FONT_IDS'],
    ['fontIds not an array', { fontIds: 'sans' }, TypeError, 'INVALID_FONT_IDS'],
    ['a font id not a string', { fontIds: ['sans', 7] }, TypeError, 'INVALID_FONT_IDS'],
    ['text not a string', { ...base, text: 12 }, TypeError, 'INVALID_TEXT'],
    ['text of 201 units', { ...base, text: 'a'.repeat(201) }, RangeError, 'INVALID_TEXT'],
    ['text of 101 astral characters', { ...base, text: '😀'.repeat(101) }, RangeError, 'INVALID_TEXT'],
    ['text of 9 MiB', { ...base, text: 'a'.repeat(9 * 1024 * 1024) }, RangeError, 'INVALID_TEXT'],
    ['fontSize as a string', { ...base, fontSize: '28' }, TypeError, 'INVALID_FONT_SIZE'],
    ['fontSize 3.99', { ...base, fontSize: 3.99 }, RangeError, 'INVALID_FONT_SIZE'],
    ['fontSize 300', { ...base, fontSize: 300 }, RangeError, 'INVALID_FONT_SIZE'],
    ['fontSize NaN', { ...base, fontSize: NaN }, RangeError, 'INVALID_FONT_SIZE'],
    ['width 0', { ...base, width: 0 }, RangeError, 'INVALID_WIDTH'],
    ['width 8193', { ...base, width: 8193 }, RangeError, 'INVALID_WIDTH'],
    ['width Infinity', { ...base, width: Infinity }, RangeError, 'INVALID_WIDTH'],
    ['dpiScale 0.49', { ...base, dpiScale: 0.49 }, RangeError, 'INVALID_DPI_SCALE'],
    ['dpiScale 9', { ...base, dpiScale: 9 }, RangeError, 'INVALID_DPI_SCALE'],
    ['dpiScale null', { ...base, dpiScale: null }, TypeError, 'INVALID_DPI_SCALE'],
    ['requestId -1', { ...base, requestId: -1 }, RangeError, 'INVALID_REQUEST_ID'],
    ['requestId 1.5', { ...base, requestId: 1.5 }, RangeError, 'INVALID_REQUEST_ID'],
    ['requestId as a string', { ...base, requestId: '1' }, TypeError, 'INVALID_REQUEST_ID'],
    ['layoutKey not a string', { ...base, layoutKey: 3 }, TypeError, 'INVALID_LAYOUT_KEY'],
  ];
  const counter = spawnCounter();
  const service = new PreviewService({ rendererPath, workers: 1, spawn: counter.spawn });
  t.after(() => service.close());
  for (const [name, request, Type, code] of cases) {
    await t.test(name, async () => {
      await assert.rejects(service.measure(request), coded(Type, code), 'measure');
      await assert.rejects(service.renderAll(request), coded(Type, code), 'renderAll');
      assert.throws(() => service.render(request), coded(Type, code), 'render, at the call');
    });
  }
  await t.test('request options', async () => {
    await assert.rejects(service.measure(base, { signal: 'abort' }), coded(TypeError, 'INVALID_OPTION'));
    assert.throws(() => service.render(base, { supersede: 1 }), coded(TypeError, 'INVALID_OPTION'));
    assert.throws(() => service.render(base, null), coded(TypeError, 'INVALID_OPTION'));
  });
  assert.equal(counter.calls, 0, 'no renderer was started for a refused request');
});

test('the limits agree with the renderer’s: values at either end are drawn', { timeout: 60000 }, async (t) => {
  const service = new PreviewService({ rendererPath, workers: 1 });
  t.after(() => service.close());
  await service.setFonts([{ fontId: 'sans', familyName: 'DejaVu Sans' }]);
  const cases = [
    { text: 'a'.repeat(200) },
    { text: '😀'.repeat(100) },
    { fontSize: 4, width: 1, dpiScale: 0.5 },
    { fontSize: 256, width: 8192, dpiScale: 8 },
    // As the renderer reads them, 32-bit floats: these are 256 and 0.5.
    { fontSize: 256.000001, dpiScale: 0.4999999999 },
    { requestId: Number.MAX_SAFE_INTEGER, layoutKey: '' },
  ];
  for (const fields of cases) {
    const m = await service.measure({ text: 'a', ...fields, fontIds: ['sans'] });
    assert.equal(m.items[0].resolved, true, JSON.stringify(fields).slice(0, 80));
  }
});

test('options are checked when the service is made', () => {
  const cases = [
    [{ workers: 0 }, RangeError],
    [{ workers: NaN }, RangeError],
    [{ workers: 1.5 }, RangeError],
    [{ replyTimeout: 0 }, RangeError],
    [{ replyTimeout: 2 ** 31 }, RangeError],
    [{ maxStartFailures: 0 }, RangeError],
    [{ batchSize: 0 }, RangeError],
    [{ rendererPath: '' }, TypeError],
    [{ args: 'x' }, TypeError],
    [{ spawn: 'spawn' }, TypeError],
  ];
  for (const [options, Type] of cases) {
    assert.throws(() => new PreviewService({ rendererPath, ...options }), coded(Type, 'INVALID_OPTION'), JSON.stringify(options));
  }
});

test('setFonts replaces the set; registerFonts is the same call under its old name', { timeout: 60000 }, async (t) => {
  const service = new PreviewService({ rendererPath, workers: 2 });
  t.after(() => service.close());
  const font = (fontId) => ({ fontId, familyName: 'DejaVu Sans' });
  const known = async () => (await service.measure({ text: 'a', fontIds: ['a', 'b', 'c'] })).items.map((i) => i.error ?? 'ok');
  assert.equal(await service.setFonts([font('a'), font('b')]), 2);
  assert.deepEqual(await known(), ['ok', 'ok', 'FONT_NOT_REGISTERED']);
  assert.equal(await service.setFonts([font('c')]), 1);
  assert.deepEqual(await known(), ['FONT_NOT_REGISTERED', 'FONT_NOT_REGISTERED', 'ok']);
  assert.equal(await service.registerFonts([font('a')]), 1);
  assert.deepEqual(await known(), ['ok', 'FONT_NOT_REGISTERED', 'FONT_NOT_REGISTERED']);
  await assert.rejects(service.setFonts('a'), coded(TypeError, 'INVALID_FONTS'));
  await assert.rejects(service.setFonts([font('a'), null]), coded(TypeError, 'INVALID_FONTS'));
  assert.deepEqual(await known(), ['ok', 'FONT_NOT_REGISTERED', 'FONT_NOT_REGISTERED'], 'a refused set changes nothing');
});

test('a closed service refuses every call with SERVICE_CLOSED; await using closes it', { timeout: 60000 }, async () => {
  const service = new PreviewService({ rendererPath, workers: 2 });
  await service.setFonts([{ fontId: 'sans', familyName: 'DejaVu Sans' }]);
  await service.renderAll(base);
  const pids = rendererPids(service);
  assert.ok(pids.length > 0);
  await service[Symbol.asyncDispose]();
  assert.deepEqual(pids.filter(alive), []);
  await assert.rejects(service.setFonts([]), coded(Error, 'SERVICE_CLOSED'));
  await assert.rejects(service.measure(base), coded(Error, 'SERVICE_CLOSED'));
  await assert.rejects(service.renderAll(base), coded(Error, 'SERVICE_CLOSED'));
  assert.throws(() => service.render(base), coded(Error, 'SERVICE_CLOSED'));
});

test('errors of the low-level Renderer carry codes too', { timeout: 60000 }, async () => {
  const renderer = await Renderer.start({ rendererPath: fakeRendererPath });
  assert.throws(() => renderer.measure(null), coded(TypeError, 'INVALID_REQUEST'));
  assert.throws(() => renderer.render(undefined), coded(TypeError, 'INVALID_REQUEST'));
  await assert.rejects(renderer.setFonts({ fontId: 'a' }), coded(TypeError, 'INVALID_FONTS'));
  assert.throws(() => sendRaw(renderer, 3, 'x'.repeat(8 * 1024 * 1024 + 1)), coded(RangeError, 'REQUEST_TOO_LARGE'));
  await renderer[Symbol.asyncDispose]();
  assert.throws(() => renderer.clearCache(), coded(Error, 'RENDERER_EXITED'));
});

test('a8ToRgba: the color on every pixel, the coverage as alpha, row padding left out', async (t) => {
  const result = (width, height, stride, bytes) => ({ resolved: true, width, height, stride, bitmap: Buffer.from(bytes) });
  const cases = [
    ['one pixel, black', result(1, 1, 1, [200]), undefined, [0, 0, 0, 200]],
    ['two rows with padding', result(2, 2, 3, [1, 2, 99, 3, 4, 99]), [10, 20, 30], [10, 20, 30, 1, 10, 20, 30, 2, 10, 20, 30, 3, 10, 20, 30, 4]],
    ['empty', result(0, 0, 0, []), [255, 255, 255], []],
  ];
  for (const [name, r, color, want] of cases) {
    await t.test(name, () => {
      const rgba = a8ToRgba(r, color);
      assert.deepEqual([rgba.width, rgba.height], [r.width, r.height]);
      assert.ok(rgba.data instanceof Uint8ClampedArray);
      assert.deepEqual([...rgba.data], want);
    });
  }
  await t.test('refused input', () => {
    for (const bad of [null, { resolved: false, error: 'FONT_NOT_FOUND' }, result(2, 1, 1, [0, 0]), result(2, 2, 2, [0, 0, 0])]) {
      assert.throws(() => a8ToRgba(bad), coded(TypeError, 'INVALID_BITMAP'));
    }
    for (const color of [[0, 0], [0, 0, 256], [0, 0, 1.5], 'red']) {
      assert.throws(() => a8ToRgba(result(1, 1, 1, [0]), color), coded(TypeError, 'INVALID_COLOR'));
    }
  });
  await t.test('a real preview', async () => {
    const renderer = await Renderer.start({ rendererPath });
    t.after(() => renderer.shutdown());
    await renderer.setFonts([{ fontId: 'sans', familyName: 'DejaVu Sans' }]);
    const [r] = await renderer.renderAll({ generation: 1, text: 'Hg', fontSize: 40, width: 61, fontIds: ['sans'] });
    const { data } = a8ToRgba(r, [0, 128, 255]);
    for (let y = 0; y < r.height; y++) {
      for (let x = 0; x < r.width; x++) {
        const at = (y * r.width + x) * 4;
        assert.deepEqual([...data.subarray(at, at + 4)], [0, 128, 255, r.bitmap[y * r.stride + x]]);
      }
    }
  });
});

test('every code thrown above is declared in ErrorCode and listed in the README', () => {
  const declared = new Set(declaredCodes('ErrorCode'));
  assert.ok(declared.size > 20, 'ErrorCode found in index.d.ts');
  for (const code of thrownCodes) {
    assert.ok(declared.has(code), `${code} in ErrorCode`);
    assert.ok(readme.includes(`\`${code}\``), `${code} in the README`);
  }
  for (const code of ['RENDERER_EXITED', 'RENDERER_TIMEOUT', 'MALFORMED_REPLY', 'ABORT_ERR', 'MEASURE_RESULT_DROPPED', 'INTERNAL_ERROR']) {
    assert.ok(declared.has(code) && readme.includes(`\`${code}\``), code);
  }
  for (const code of ['RENDERER_CRASHED', 'REPLY_TOO_LARGE', 'INVALID_LAYOUT', 'FONT_NOT_REGISTERED', 'RASTERIZE_FAILED']) {
    assert.ok(declaredCodes('ServiceFontErrorCode').includes(code) && readme.includes(`\`${code}\``), code);
  }
});
