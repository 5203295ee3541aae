// A pool of renderers behind one object: fonts registered on every worker and replayed after a
// restart, requests split by font over the workers, results streamed per font, latest-wins
// cancellation through generations, and supervision (exit, crash, hang) with re-issue of what a
// lost worker still owed.

import { EventEmitter } from 'node:events';
import os from 'node:os';

import { AsyncQueue } from './async_queue.js';
import { halves, planAfterDeath } from './death_policy.js';
import { AbortError, ProtocolError, RendererExitError, ServiceClosedError, TimeoutError } from './errors.js';
import { ExitCode, kMaxFontsPerChunk } from './messages.js';
import { defaultRendererPath, Renderer } from './renderer.js';
import { splitFontIds } from './requests.js';
import { checkFonts, checkRequest, checkRequestOptions, checkServiceOptions } from './validate.js';
import { kTestAccess } from './testing.js';

const asyncDispose = Symbol.asyncDispose ?? Symbol.for('nodejs.asyncDispose');

const kPipelineDepth = 2; // tasks written ahead per worker, so a worker never waits for the host
const kMaxBatch = 32;
const kStrikesToFail = 2;
// Renderers in a row that answered Hello and then died while registering the fonts, after which
// the requests in progress fail: a set that ends every renderer must not restart them forever,
// while a renderer killed from outside now and then must not fail anything.
const kRegistrationDeathsToFail = 8;
export const kRendererCrashed = 'RENDERER_CRASHED';
export const kReplyTooLarge = 'REPLY_TOO_LARGE';

export class PreviewService extends EventEmitter {
  #options;
  #workers;
  #queue = []; // tasks not yet written to a worker
  #live = new Set();
  #fonts = null;
  #fontsVersion = 0;
  #generation = 0;
  #watermark = 0;
  #closed = false;
  #startFailures = 0;
  #registrationDeaths = 0;
  #giveUps = 0;
  #giveUpError = null;
  #restarts = 0;

  constructor({
    rendererPath = defaultRendererPath(),
    args = [],
    workers = os.availableParallelism?.() ?? os.cpus().length,
    replyTimeout = 10000,
    maxStartFailures = 3,
    batchSize = undefined,
    spawn = undefined,
  } = {}) {
    super();
    checkServiceOptions({ rendererPath, args, workers, replyTimeout, maxStartFailures, batchSize, spawn });
    this.#options = { rendererPath, args, replyTimeout, maxStartFailures, batchSize, spawn };
    this.#workers = Array.from({ length: workers }, (_, index) => ({
      index,
      renderer: null,
      started: false, // the renderer answered Hello
      ready: false,
      fontsVersion: 0,
      inflight: [],
    }));
  }

  get workerCount() {
    return this.#workers.length;
  }
  get restarts() {
    return this.#restarts;
  }
  get [kTestAccess]() {
    return { pids: () => this.#workers.filter((w) => w.renderer?.running).map((w) => w.renderer.pid) };
  }

  // Replaces the whole registered set on every worker (fonts of an earlier set that are not in this
  // one are FONT_NOT_REGISTERED from then on); kept and replayed on each new worker. Resolves with
  // the size of the active set; on an error the previous set stays registered everywhere.
  async setFonts(fonts) {
    this.#checkOpen();
    checkFonts(fonts);
    fonts = [...fonts];
    const previous = { fonts: this.#fonts, version: this.#fontsVersion };
    await this.#bringUp(this.#workers[0]);
    this.#fonts = fonts;
    const version = ++this.#fontsVersion;
    const ready = this.#workers.filter((w) => w.ready && w.renderer.running);
    for (const w of ready) w.fontsVersion = version;
    try {
      const counts = await Promise.all(ready.map((w) => this.#registerOn(w, fonts)));
      return counts[0];
    } catch (error) {
      if (this.#fontsVersion === version) {
        this.#fonts = previous.fonts;
        this.#fontsVersion = previous.version;
        for (const w of ready) w.fontsVersion = previous.version;
      }
      throw error;
    }
  }

  // The name of setFonts() before 0.2.0, which hid that the set is replaced.
  registerFonts(fonts) {
    return this.setFonts(fonts);
  }

  // A renderer that dies while it registers (one that crosses its memory limit while the new set is
  // staged beside the active one exits) is replaced like any other; the replacement registers the
  // current set.
  async #registerOn(w, fonts) {
    const r = w.renderer;
    try {
      return await register(r, fonts);
    } catch (error) {
      if (!isDeath(error) || this.#closed) throw error;
      await afterExit(r);
      return this.#bringUp(w);
    }
  }

  // Starts `w` until it is ready with the current set, through renderers that die on the way, until
  // #exited gives up on them.
  async #bringUp(w) {
    const giveUps = this.#giveUps;
    for (;;) {
      this.#checkOpen();
      const starting = this.#ensureStarted(w);
      const r = w.renderer;
      try {
        await starting;
        return w.fontCount;
      } catch (error) {
        if (!isDeath(error)) throw error;
        await afterExit(r);
        if (this.#closed) throw error;
        if (this.#giveUps !== giveUps) throw this.#giveUpError;
      }
    }
  }

  // Heights and line counts, items in request order.
  measure(request, options = {}) {
    return new Promise((resolve, reject) => {
      const items = [];
      const generation = this.#generation + 1; // the one #open gives it
      this.#open('measure', request, options, {
        deliver: (index, item) => (items[index] = item),
        finish: () => resolve({ requestId: request.requestId ?? 0, generation, layoutKey: request.layoutKey ?? '', items }),
        fail: reject,
      });
    });
  }

  // One RenderResult per font, in the order they are drawn (`for await ... of`).
  render(request, options = {}) {
    let req = null;
    const results = new AsyncQueue(() => req && this.#cancel(req, new AbortError('the consumer stopped')));
    req = this.#open('render', request, options, {
      deliver: (_, result) => results.push(result),
      finish: () => results.end(),
      fail: (error) => results.discard(error),
    });
    return results;
  }

  // Every RenderResult, in request order.
  async renderAll(request, options = {}) {
    checkRequest(request);
    const all = new Array(request.fontIds.length);
    const order = new Map();
    request.fontIds.forEach((id, i) => order.set(id, [...(order.get(id) ?? []), i]));
    for await (const result of this.render(request, options)) all[order.get(result.fontId).shift()] = result;
    return all;
  }

  // Cancels every request in progress; none of them delivers anything after this returns.
  cancelAll(reason = new AbortError('cancelled')) {
    for (const req of [...this.#live]) this.#cancel(req, reason);
  }

  clearCache() {
    for (const w of this.#workers) if (w.ready) w.renderer.clearCache();
  }

  // Cancels what is in progress and shuts every worker down.
  async close() {
    if (this.#closed) return;
    this.cancelAll(new AbortError('the service was closed'));
    this.#closed = true;
    await Promise.all(this.#workers.map((w) => w.renderer?.shutdown()));
  }

  // `await using service = new PreviewService(...)` closes it at the end of the block.
  [asyncDispose]() {
    return this.close();
  }

  #checkOpen() {
    if (this.#closed) throw new ServiceClosedError();
  }

  #open(kind, request, options, sink) {
    this.#checkOpen();
    checkRequest(request);
    checkRequestOptions(options);
    request = { ...request, fontIds: [...request.fontIds] }; // the caller may change its own after the call
    const { signal, supersede = false } = options ?? {};
    if (supersede) this.cancelAll(new AbortError('superseded by a newer request'));
    const req = {
      kind,
      request,
      generation: ++this.#generation,
      remaining: request.fontIds.length,
      delivered: new Uint8Array(request.fontIds.length),
      strikes: new Map(),
      sink,
      signal,
      onAbort: null,
    };
    if (signal?.aborted) {
      sink.fail(new AbortError('aborted', { cause: signal.reason }));
      return req;
    }
    this.#live.add(req);
    if (signal) {
      req.onAbort = () => this.#cancel(req, new AbortError('aborted', { cause: signal.reason }));
      signal.addEventListener('abort', req.onAbort, { once: true });
    }
    const indices = request.fontIds.map((_, i) => i);
    if (!indices.length) {
      this.#finish(req);
      return req;
    }
    const batch = this.#options.batchSize ?? Math.min(kMaxBatch, Math.ceil(indices.length / (this.#workers.length * 4)));
    let at = 0;
    for (const ids of splitFontIds(request.fontIds, request.layoutKey, batch)) {
      this.#queue.push({ req, indices: indices.slice(at, at + ids.length), done: 0 });
      at += ids.length;
    }
    this.#pump();
    return req;
  }

  #deliver(req, index, result) {
    if (!this.#live.has(req) || req.delivered[index]) return;
    req.delivered[index] = 1;
    req.strikes.delete(index);
    req.sink.deliver(index, result);
    if (--req.remaining === 0) this.#finish(req);
  }

  #finish(req) {
    this.#retire(req);
    req.sink.finish();
  }

  #cancel(req, error) {
    if (!this.#live.has(req)) return;
    this.#retire(req);
    req.sink.fail(error);
    // Every worker drops requests up to the oldest one still wanted.
    let oldestLive = this.#generation + 1;
    for (const other of this.#live) oldestLive = Math.min(oldestLive, other.generation);
    const watermark = oldestLive - 1;
    if (watermark > this.#watermark) {
      this.#watermark = watermark;
      for (const w of this.#workers) if (w.renderer?.running) w.renderer.setGeneration(watermark);
    }
  }

  #retire(req) {
    this.#live.delete(req);
    this.#queue = this.#queue.filter((task) => task.req !== req);
    req.signal?.removeEventListener('abort', req.onAbort);
  }

  #pump() {
    if (this.#closed) return;
    for (const w of this.#workers) {
      if (!this.#queue.length) return;
      if (!w.renderer) {
        this.#ensureStarted(w).catch(() => {}); // failures arrive through the worker's exit
        continue;
      }
      while (w.ready && w.renderer.running && w.inflight.length < kPipelineDepth && this.#queue.length) {
        this.#run(w, this.#queue.shift());
      }
    }
  }

  #run(w, task) {
    const { req } = task;
    const r = w.renderer;
    w.inflight.push(task);
    const fontIds = task.indices.map((i) => req.request.fontIds[i]);
    const layout = { ...req.request, fontIds, generation: req.generation };
    // False when the task was taken back already, by the exit of its worker.
    const release = () => {
      const at = w.inflight.indexOf(task);
      if (at >= 0) w.inflight.splice(at, 1);
      return at >= 0;
    };
    // A renderer that ended re-issues its tasks from its exit. One still running refused the task
    // (an Error reply) or it could not be sent: the slot is freed, and the request fails with the
    // code, except for a MeasureResult the renderer dropped as too large, which is halved.
    const refused = (error) => {
      if (w.renderer !== r || !r.running || !release()) return;
      if (this.#live.has(req)) {
        if (req.kind === 'measure' && error.code === 'MEASURE_RESULT_DROPPED') this.#replyDropped(req, task.indices);
        else this.#cancel(req, error);
      }
      this.#pump();
    };
    if (req.kind === 'measure') {
      Promise.resolve().then(() => r.measure(layout)).then((result) => {
        // null: stale, cancelled after it was queued here
        result?.items.forEach((item, k) => this.#deliver(req, task.indices[k], item));
        task.done = task.indices.length;
        if (release()) this.#pump();
      }, refused);
      return;
    }
    (async () => {
      for await (const result of r.render(layout)) {
        this.#deliver(req, task.indices[task.done++], result);
      }
      if (release()) this.#pump();
    })().catch(refused);
  }

  #replyDropped(req, indices) {
    if (indices.length > 1) {
      this.#queue.unshift(...halves(indices).map((part) => ({ req, indices: part, done: 0 })));
      return;
    }
    this.#deliver(req, indices[0], this.#failedResult(req, indices[0], kReplyTooLarge));
  }

  #failedResult(req, index, error) {
    const fontId = req.request.fontIds[index];
    if (req.kind === 'measure') return { fontId, resolved: false, error };
    const { requestId = 0, layoutKey = '' } = req.request;
    return { requestId, generation: req.generation, layoutKey, fontId, resolved: false, error };
  }

  async #ensureStarted(w) {
    if (w.renderer) return w.starting;
    const r = new Renderer(this.#options);
    w.renderer = r;
    w.started = false;
    w.ready = false;
    // After the replies that came before the exit have settled: only the rest is owed.
    r.once('exit', (exit) => setImmediate(() => this.#exited(w, r, exit)));
    w.starting = (async () => {
      await r.hello();
      w.started = true;
      this.#startFailures = 0;
      while (this.#fonts && w.fontsVersion !== this.#fontsVersion) {
        const version = this.#fontsVersion;
        w.fontCount = await register(r, this.#fonts);
        w.fontsVersion = version;
      }
      if (this.#watermark) r.setGeneration(this.#watermark);
      w.ready = true;
      this.#registrationDeaths = 0;
      this.#pump();
    })();
    w.starting.catch(() => r.kill());
    return w.starting;
  }

  #exited(w, r, exit) {
    if (w.renderer !== r) return;
    const lost = w.inflight.splice(0);
    const { started, ready } = w;
    w.renderer = null;
    w.started = false;
    w.ready = false;
    w.fontsVersion = 0;
    if (this.#closed) return;
    this.#restarts++;
    // A renderer that answered Hello has started: dying while it registers is a death.
    if (!started) this.#startFailures++;
    else if (!ready) this.#registrationDeaths++;
    this.emit('restart', { worker: w.index, ...exit, owed: lost.reduce((n, t) => n + t.indices.length - t.done, 0) });
    // Memory exhaustion is the renderer's housekeeping, not the font's fault.
    const memoryExit = exit.exitCode === ExitCode.memoryHardLimit || exit.fatal === 'MEMORY_HARD_LIMIT';
    const requeue = [];
    let givenUp = null;
    lost.forEach((task, position) => {
      const owed = task.indices.slice(task.done);
      if (!this.#live.has(task.req) || !owed.length) return;
      // Only the first task was being handled; the ones written behind it go out again as they were.
      if (position > 0) {
        requeue.push({ req: task.req, indices: owed, done: 0 });
        return;
      }
      const plan = planAfterDeath(task.req.kind === 'render', memoryExit, owed, task.req.strikes, kStrikesToFail);
      for (const indices of plan.retry) requeue.push({ req: task.req, indices, done: 0 });
      if (plan.givenUp !== null) givenUp = { req: task.req, index: plan.givenUp };
    });
    this.#queue.unshift(...requeue);
    if (givenUp) this.#deliver(givenUp.req, givenUp.index, this.#failedResult(givenUp.req, givenUp.index, kRendererCrashed));
    const { maxStartFailures, rendererPath } = this.#options;
    let gaveUp = null;
    if (this.#startFailures >= maxStartFailures) gaveUp = `the renderer failed to start ${maxStartFailures} times (${rendererPath})`;
    else if (this.#registrationDeaths >= kRegistrationDeathsToFail) gaveUp = `${kRegistrationDeathsToFail} renderers in a row died while registering the fonts`;
    if (gaveUp) {
      this.#startFailures = 0;
      this.#registrationDeaths = 0;
      this.#giveUps++;
      this.#giveUpError = new RendererExitError(exit.exitCode, exit.signal, gaveUp);
      this.cancelAll(this.#giveUpError);
      return;
    }
    this.#pump();
  }
}

// Failures after which the renderer is gone (or being killed), as opposed to a refusal.
const isDeath = (error) => error instanceof RendererExitError || error instanceof TimeoutError || error instanceof ProtocolError;

// Resolves once the service has handled the exit of `renderer`.
async function afterExit(renderer) {
  await renderer.exited;
  await new Promise((resolve) => setImmediate(resolve));
}

function register(renderer, fonts) {
  return fonts.length <= kMaxFontsPerChunk ? renderer.registerFonts(fonts) : renderer.registerFontsChunked(fonts);
}
