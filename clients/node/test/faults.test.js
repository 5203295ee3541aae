// The service against a scripted renderer: what becomes of a request when its renderer dies, hangs,
// refuses or drops a reply, and cancellation of results already received.
import assert from 'node:assert/strict';
import { mkdtempSync, rmSync } from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { test } from 'node:test';

import { AbortError, PreviewService } from '../index.js';
import { fakeRendererPath, untilTrue } from './helpers.js';
import { rendererPids } from '../src/testing.js';

const stateDir = mkdtempSync(path.join(os.tmpdir(), 'kfp-faults-'));
process.on('exit', () => rmSync(stateDir, { recursive: true, force: true }));
let cases = 0;

// A service on the fake renderer with `faults`; restarts are recorded (`deaths`: those that cost
// a request something, as opposed to a renderer slow to start on a loaded machine), and a service
// that keeps restarting is stopped so that the case fails instead of running on.
function faultyService(t, faults, options = {}) {
  const state = path.join(stateDir, `state${cases++}`);
  const service = new PreviewService({ rendererPath: fakeRendererPath, args: [...faults, `state=${state}`], workers: 1, ...options });
  t.after(() => service.close());
  const restarts = [];
  const deaths = [];
  service.on('restart', (e) => {
    restarts.push(e.signal ?? e.exitCode);
    if (e.owed) deaths.push(e.signal ?? e.exitCode);
    if (restarts.length > 12) service.cancelAll(new Error('restarted forever'));
  });
  return { service, restarts, deaths };
}

const outcome = (r) => (r.resolved ? 'ok' : r.error);

async function run(service, kind, fontIds) {
  if (kind === 'measure') return (await service.measure({ text: 'x', fontIds })).items;
  return service.renderAll({ text: 'x', fontIds });
}

test('death policy: what a dead or hung renderer costs the font it was on', { timeout: 120000 }, async (t) => {
  const ids = ['a', 'bad', 'c', 'd'];
  const cases = [
    // A Render blames the first font it still owed; a second death on it gives the font up.
    ['render, SIGKILL', 'render', ['kill@bad'], {}, ['ok', 'RENDERER_CRASHED', 'ok', 'ok'], ['SIGKILL', 'SIGKILL']],
    ['render, exit 0 mid-request', 'render', ['exit0@bad'], {}, ['ok', 'RENDERER_CRASHED', 'ok', 'ok'], [0, 0]],
    ['render, exit 4', 'render', ['exit4@bad'], {}, ['ok', 'RENDERER_CRASHED', 'ok', 'ok'], [4, 4]],
    ['render, hang', 'render', ['hang@bad'], { replyTimeout: 2000 }, ['ok', 'RENDERER_CRASHED', 'ok', 'ok'], ['SIGKILL', 'SIGKILL']],
    // Over the memory limit is the renderer's housekeeping: never a strike, however often.
    ['render, memory limit once', 'render', ['memory@bad', 'times=1'], {}, ['ok', 'ok', 'ok', 'ok'], [75]],
    ['render, memory limit 4 times', 'render', ['memory@bad', 'times=4'], {}, ['ok', 'ok', 'ok', 'ok'], [75, 75, 75, 75]],
    ['render, one death only', 'render', ['kill@bad', 'times=1'], {}, ['ok', 'ok', 'ok', 'ok'], ['SIGKILL']],
    // A Measure does not say which font it was on: the batch is halved until the culprit is alone
    // ([a bad c d], [a bad], [bad], [bad]).
    ['measure, SIGKILL', 'measure', ['kill@bad'], {}, ['ok', 'RENDERER_CRASHED', 'ok', 'ok'], ['SIGKILL', 'SIGKILL', 'SIGKILL', 'SIGKILL']],
    ['measure, exit 0 mid-request', 'measure', ['exit0@bad'], {}, ['ok', 'RENDERER_CRASHED', 'ok', 'ok'], [0, 0, 0, 0]],
    ['measure, memory limit once', 'measure', ['memory@bad', 'times=1'], {}, ['ok', 'ok', 'ok', 'ok'], [75]],
    // A MeasureResult the renderer dropped (over its reply limit) is halved too, down to the font
    // whose item alone is too large.
    ['measure, reply dropped', 'measure', ['drop@bad'], {}, ['ok', 'REPLY_TOO_LARGE', 'ok', 'ok'], []],
  ];
  for (const [name, kind, faults, options, want, wantRestarts] of cases) {
    await t.test(name, { timeout: 20000 }, async (t) => {
      const { service, deaths } = faultyService(t, faults, { batchSize: 4, ...options });
      await service.setFonts(ids.map((fontId) => ({ fontId })));
      const results = await run(service, kind, ids);
      assert.deepEqual(results.map((r) => r.fontId), ids);
      assert.deepEqual(results.map(outcome), want);
      assert.deepEqual(deaths, wantRestarts);
    });
  }
});

test('a request the renderer refuses fails with its code and frees the worker', { timeout: 60000 }, async (t) => {
  const cases = [
    ['render answered INTERNAL_ERROR', 'render', ['internal@bad'], { text: 'x' }, 'INTERNAL_ERROR'],
    ['measure answered INTERNAL_ERROR', 'measure', ['internal@bad'], { text: 'x' }, 'INTERNAL_ERROR'],
    // Beyond what one frame can carry: the client's own writer refuses it.
    ['render too large to send', 'render', [], { layoutKey: 'k'.repeat(9 * 1024 * 1024) }, 'REQUEST_TOO_LARGE'],
    ['measure too large to send', 'measure', [], { layoutKey: 'k'.repeat(9 * 1024 * 1024) }, 'REQUEST_TOO_LARGE'],
  ];
  for (const [name, kind, faults, fields, code] of cases) {
    await t.test(name, { timeout: 20000 }, async (t) => {
      const { service, restarts } = faultyService(t, faults, { batchSize: 1 });
      await service.setFonts(['a', 'bad', 'c'].map((fontId) => ({ fontId })));
      const request = { ...fields, fontIds: ['a', 'bad', 'c'] };
      const pending = kind === 'measure' ? service.measure(request) : service.renderAll(request);
      await assert.rejects(pending, (e) => e.code === code);
      // Nothing is wedged: the next requests on the same renderer are answered.
      for (let i = 0; i < 3; i++) assert.deepEqual((await run(service, kind, ['a', 'c'])).map(outcome), ['ok', 'ok']);
      assert.deepEqual(restarts, []);
    });
  }
});

test('a renderer that dies while registering is restarted, not counted as a failed start', { timeout: 60000 }, async (t) => {
  await t.test('during the first registration', { timeout: 20000 }, async (t) => {
    const { service, restarts } = faultyService(t, ['kill@register', 'times=3'], { maxStartFailures: 1 });
    assert.equal(await service.setFonts([{ fontId: 'a' }, { fontId: 'b' }]), 2);
    assert.deepEqual((await service.renderAll({ fontIds: ['a', 'b'] })).map(outcome), ['ok', 'ok']);
    assert.deepEqual(restarts, ['SIGKILL', 'SIGKILL', 'SIGKILL']);
  });
  await t.test('while a replacement registers the fonts again', { timeout: 20000 }, async (t) => {
    const { service, restarts } = faultyService(t, ['exit0@register', 'skip=1', 'times=3'], { maxStartFailures: 1 });
    await service.setFonts([{ fontId: 'a' }, { fontId: 'b' }]);
    process.kill(rendererPids(service)[0], 'SIGKILL');
    await untilTrue(() => restarts.length === 1);
    assert.deepEqual((await service.measure({ fontIds: ['a', 'b'] })).items.map(outcome), ['ok', 'ok']);
    assert.deepEqual(restarts, ['SIGKILL', 0, 0, 0]);
  });
  await t.test('every time: the request fails in bounded time', { timeout: 20000 }, async (t) => {
    const { service, restarts } = faultyService(t, ['kill@register']);
    await assert.rejects(service.setFonts([{ fontId: 'a' }]), (e) => e.code === 'RENDERER_EXITED' && /registering/.test(e.message));
    assert.ok(restarts.length > 1 && restarts.length <= 12, `${restarts.length} restarts`);
  });
});

test('results received but not yet taken are dropped when the request is cancelled', { timeout: 60000 }, async (t) => {
  const cases = [
    ['AbortSignal', (service, controller) => controller.abort()],
    ['cancelAll', (service) => service.cancelAll()],
    ['superseded', (service) => service.measure({ fontIds: ['a'] }, { supersede: true }).catch(() => {})],
  ];
  for (const [name, cancel] of cases) {
    await t.test(name, { timeout: 20000 }, async (t) => {
      // [a b] arrive in one read; [stall] is never answered, so the request stays open.
      const { service } = faultyService(t, ['hang@stall'], { batchSize: 2 });
      await service.setFonts(['a', 'b', 'stall'].map((fontId) => ({ fontId })));
      const controller = new AbortController();
      const results = service.render({ fontIds: ['a', 'b', 'stall'] }, { signal: controller.signal });
      const first = await results.next();
      assert.equal(first.value.fontId, 'a');
      await new Promise((resolve) => setImmediate(resolve)); // b, read with a, is queued for the consumer
      cancel(service, controller);
      await assert.rejects(results.next(), AbortError, 'b was received before the cancel, yet must not be delivered');
      assert.deepEqual(await results.next(), { value: undefined, done: true });
    });
  }
});
