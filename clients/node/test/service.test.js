// The preview service on real renderers: restarts, cancellation, splitting, no leaks.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { AbortError, PreviewService, Renderer, RendererExitError } from '../index.js';
import { alive, installedFonts, openDescriptors, rendererPath, untilTrue } from './helpers.js';
import { rendererPids } from '../src/testing.js';

const fonts = installedFonts(120);
const fontIds = fonts.map((f) => f.fontId);
const layout = { text: 'Quick brown fox 0123', fontSize: 24, width: 240 };

// What one plain renderer draws for each font: the reference every service result must equal.
const reference = await (async () => {
  const r = await Renderer.start({ rendererPath });
  await r.registerFonts(fonts);
  const all = await r.renderAll({ ...layout, generation: 1, fontIds });
  await r.shutdown();
  return new Map(all.map((x) => [x.fontId, x]));
})();

function assertMatchesReference(results) {
  assert.equal(results.length, fontIds.length);
  results.forEach((r, i) => {
    assert.equal(r.fontId, fontIds[i]);
    const want = reference.get(r.fontId);
    assert.equal(r.error, want.error, r.fontId);
    if (want.resolved) assert.ok(r.bitmap.equals(want.bitmap), `bitmap of ${r.fontId}`);
  });
}

test('results are complete, in request order and equal to one renderer’s', { timeout: 60000 }, async (t) => {
  const service = new PreviewService({ rendererPath, workers: 2 });
  t.after(() => service.close());
  assert.equal(await service.setFonts(fonts), fonts.length);
  assertMatchesReference(await service.renderAll({ ...layout, fontIds }));
  const m = await service.measure({ ...layout, requestId: 3, layoutKey: 'k', fontIds });
  assert.deepEqual(m.items.map((i) => i.fontId), fontIds);
  assert.deepEqual([m.requestId, m.layoutKey, m.generation > 0], [3, 'k', true]);
  assert.deepEqual(await service.measure({ fontIds: [] }), { requestId: 0, generation: m.generation + 1, layoutKey: '', items: [] });
  assert.deepEqual(await service.renderAll({ fontIds: [] }), []);
  assert.equal(rendererPids(service).length, 2);
  assert.equal(service.restarts, 0);
  await service.close();
});

test('a worker killed mid-render is replaced: fonts re-registered, nothing lost or duplicated', { timeout: 60000 }, async (t) => {
  for (const signal of ['SIGKILL', 'SIGSEGV']) {
    const service = new PreviewService({ rendererPath, workers: 2 });
    t.after(() => service.close());
    await service.setFonts(fonts);
    const restarts = [];
    service.on('restart', (e) => restarts.push(e));
    const results = [];
    let killed = false;
    for await (const r of service.render({ ...layout, fontIds })) {
      results.push(r);
      if (!killed) {
        process.kill(rendererPids(service)[0], signal);
        killed = true;
      }
    }
    assert.equal(restarts.length, 1, signal);
    assert.equal(restarts[0].signal, signal);
    assert.ok(restarts[0].owed > 0, 'the worker died while it owed results');
    const order = new Map(fontIds.map((id, i) => [id, i]));
    assertMatchesReference(results.sort((a, b) => order.get(a.fontId) - order.get(b.fontId)));
    await service.close();
  }
});

// `base` followed by `count` fonts of no installed family whose ids are `idLength` characters long:
// the renderer keeps every id, two bytes a character, in its font registry.
function paddedFontSet(base, tag, count, idLength) {
  const padded = Array.from({ length: count }, (_, i) => ({ fontId: `${tag}${i}`.padEnd(idLength, tag), familyName: 'No Such Family' }));
  return [...base, ...padded];
}

test('a worker over the memory hard limit (exit 75) is replaced and every font gets its result', { timeout: 60000 }, async (t) => {
  // Ids that name one face share it, so resolving fonts hardly grows a renderer; its font registry
  // does. One set of about 160 MB fits; a new set is staged beside the active one, so registering
  // a second such set takes the renderer past its hard limit in the middle of the request.
  const families = ['DejaVu Sans', 'DejaVu Serif', 'DejaVu Sans Mono'];
  const measured = Array.from({ length: 40 }, (_, i) => ({ fontId: `f${i}`, familyName: families[i % 3] }));
  const ids = measured.map((f) => f.fontId);
  const firstSet = paddedFontSet(measured, 'a', 10000, 8000);
  const secondSet = paddedFontSet(measured, 'b', 10000, 8000);
  const service = new PreviewService({ rendererPath, workers: 1, batchSize: 4 });
  t.after(() => service.close()); // a failure must not leave a renderer holding the test file open
  const restarts = [];
  service.on('restart', (e) => restarts.push(e));
  assert.equal(await service.setFonts(firstSet), firstSet.length);
  const [firstPid] = rendererPids(service);
  const results = [];
  let registered = null;
  for await (const r of service.render({ ...layout, fontIds: ids })) {
    results.push(r);
    // Batches are still owed: the second set goes out behind them on the same renderer.
    registered ??= service.setFonts(secondSet);
  }
  assert.equal(await registered, secondSet.length, 'the new set is registered on the replacement');
  assert.deepEqual(restarts.map((e) => [e.exitCode, e.fatal]), [[75, 'MEMORY_HARD_LIMIT']]);
  assert.equal(alive(firstPid), false);
  assert.notDeepEqual(rendererPids(service), [firstPid]);
  const order = new Map(ids.map((id, i) => [id, i]));
  results.sort((a, b) => order.get(a.fontId) - order.get(b.fontId));
  assert.deepEqual(results.map((r) => r.fontId), ids, 'every font answered exactly once');
  assert.ok(results.every((r) => r.resolved), 'every font resolved, after the restart too');
  // The replacement holds the second set: its padded ids are known, the first set's are not.
  const m = await service.measure({ text: 'a', fontIds: [secondSet.at(-1).fontId, firstSet.at(-1).fontId] });
  assert.deepEqual(m.items.map((i) => i.error), ['FONT_NOT_FOUND', 'FONT_NOT_REGISTERED']);
});

test('a hung worker is killed after the reply timeout and its fonts re-issued', { timeout: 60000 }, async (t) => {
  const service = new PreviewService({ rendererPath, workers: 1, replyTimeout: 4000 });
  t.after(() => service.close());
  await service.setFonts(fonts);
  const [stopped] = rendererPids(service);
  const restarts = [];
  service.on('restart', (e) => restarts.push(e));
  process.kill(stopped, 'SIGSTOP');
  assertMatchesReference(await service.renderAll({ ...layout, fontIds }));
  assert.deepEqual(restarts.map((e) => e.signal), ['SIGKILL']);
  assert.equal(alive(stopped), false);
  await service.close();
});

test('latest wins: a superseded render delivers nothing after the new request starts', { timeout: 60000 }, async (t) => {
  const service = new PreviewService({ rendererPath, workers: 2 });
  t.after(() => service.close());
  await service.setFonts(fonts);
  const first = service.render({ ...layout, text: 'first', fontIds }, { supersede: true });
  const firstResults = [];
  let afterCancel = 0;
  let second = null;
  await assert.rejects(
    (async () => {
      for await (const r of first) {
        if (second) afterCancel++;
        firstResults.push(r);
        second ??= service.renderAll({ ...layout, fontIds }, { supersede: true });
      }
    })(),
    (e) => e instanceof AbortError && e.code === 'ABORT_ERR',
  );
  assert.equal(afterCancel, 0);
  assert.ok(firstResults.length < fontIds.length);
  assertMatchesReference(await second);
  await service.close();
});

test('an AbortSignal cancels one request and leaves the others alone', { timeout: 60000 }, async (t) => {
  const service = new PreviewService({ rendererPath, workers: 2 });
  t.after(() => service.close());
  await service.setFonts(fonts);
  const older = service.renderAll({ ...layout, fontIds });
  const controller = new AbortController();
  const aborted = service.measure({ ...layout, fontIds }, { signal: controller.signal });
  const newer = service.renderAll({ ...layout, fontIds });
  controller.abort();
  await assert.rejects(aborted, AbortError);
  assertMatchesReference(await older);
  assertMatchesReference(await newer);
  await assert.rejects(service.measure({ ...layout, fontIds }, { signal: controller.signal }), AbortError);
  await service.close();
});

test('font lists are split so that no MeasureResult exceeds the reply limit', { timeout: 60000 }, async (t) => {
  const service = new PreviewService({ rendererPath, workers: 2 });
  t.after(() => service.close());
  await service.setFonts([{ fontId: 'sans', familyName: 'DejaVu Sans' }]);
  const id = 'u'.repeat(120);
  const m = await service.measure({ text: 'a', fontIds: [...new Array(50000).fill(id), 'sans'] });
  assert.equal(m.items.length, 50001);
  assert.ok(m.items.slice(0, -1).every((item) => item.fontId === id && item.error === 'FONT_NOT_REGISTERED'));
  assert.equal(m.items[50000].resolved, true);
  await service.close();
});

test('a renderer that cannot start fails the request instead of retrying forever', { timeout: 60000 }, async (t) => {
  const service = new PreviewService({ rendererPath: '/nonexistent/renderer', workers: 2 });
  t.after(() => service.close());
  await assert.rejects(service.setFonts(fonts), RendererExitError);
  await assert.rejects(service.measure({ ...layout, fontIds }), (e) => e.code === 'RENDERER_EXITED' && /failed to start 3 times/.test(e.message));
  await service.close();
});

test('a failed registration keeps the previous set on every worker', { timeout: 60000 }, async (t) => {
  const service = new PreviewService({ rendererPath, workers: 2 });
  t.after(() => service.close());
  await service.setFonts(fonts);
  await assert.rejects(service.setFonts([fonts[0], fonts[0]]), (e) => e.code === 'TOO_MANY_FONTS');
  process.kill(rendererPids(service)[0], 'SIGKILL'); // the replacement must get the kept set, not the failed one
  await untilTrue(() => service.restarts === 1);
  assertMatchesReference(await service.renderAll({ ...layout, fontIds }));
  await service.close();
});

test('close leaves no process and no descriptor behind', { timeout: 60000 }, async (t) => {
  const before = openDescriptors();
  const service = new PreviewService({ rendererPath, workers: 3 });
  t.after(() => service.close());
  await service.setFonts(fonts);
  await service.renderAll({ ...layout, fontIds });
  const pids = rendererPids(service);
  assert.equal(pids.length, 3);
  await service.close();
  assert.deepEqual(pids.filter(alive), []);
  assert.equal(openDescriptors(), before);
});
