// A pool of renderers behind one object: fonts registered on every worker and replayed after a
// restart, requests split by font over the workers, results streamed per font, latest-wins
// cancellation through generations, and supervision (exit, crash, hang) with re-issue of what a
// lost worker still owed.

import { EventEmitter } from 'node:events';
import os from 'node:os';

import { AsyncQueue } from './async_queue.js';
import { AbortError, RendererExitError } from './errors.js';
import { ExitCode, kMaxFontsPerChunk } from './messages.js';
import { defaultRendererPath, Renderer } from './renderer.js';
import { splitFontIds } from './requests.js';

const kPipelineDepth = 2; // tasks written ahead per worker, so a worker never waits for the host
const kMaxBatch = 32;
const kStrikesToFail = 2;
export const kRendererCrashed = 'RENDERER_CRASHED';

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
  #restarts = 0;

  constructor({
    rendererPath = defaultRendererPath(),
    args = [],
    workers = os.availableParallelism?.() ?? os.cpus().length,
    replyTimeout = 10000,
    maxStartFailures = 3,
    batchSize = undefined,
  } = {}) {
    super();
    this.#options = { rendererPath, args, replyTimeout, maxStartFailures, batchSize };
    this.#workers = Array.from({ length: Math.max(1, workers) }, (_, index) => ({
      index,
      renderer: null,
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
  // Process ids of the running workers (tests kill them).
  get pids() {
    return this.#workers.filter((w) => w.renderer?.running).map((w) => w.renderer.pid);
  }

  // Replaces the registered set on every worker; kept and replayed on each new worker. Resolves
  // with the size of the active set; on an error the previous set stays registered everywhere.
  async registerFonts(fonts) {
    this.#checkOpen();
    const previous = { fonts: this.#fonts, version: this.#fontsVersion };
    await this.#ensureStarted(this.#workers[0]);
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

  // A renderer that crosses its memory limit while the new set is staged beside the active one
  // exits; like any renderer that died it is replaced, and the replacement holds only the new set.
  async #registerOn(w, fonts) {
    const r = w.renderer;
    try {
      return await register(r, fonts);
    } catch (error) {
      if (error.exitCode !== ExitCode.memoryHardLimit || this.#closed) throw error;
      await new Promise((resolve) => setImmediate(resolve)); // after #exited has let `r` go
      await this.#ensureStarted(w);
      return w.fontCount;
    }
  }

  // Heights and line counts, items in request order.
  measure(request, options = {}) {
    return new Promise((resolve, reject) => {
      const items = new Array(request.fontIds.length);
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

  #checkOpen() {
    if (this.#closed) throw new Error('the preview service is closed');
  }

  #open(kind, request, { signal, supersede = false } = {}, sink) {
    this.#checkOpen();
    if (!Array.isArray(request.fontIds)) throw new TypeError('request.fontIds must be an array of strings');
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
    const settle = () => {
      w.inflight.splice(w.inflight.indexOf(task), 1);
      this.#pump();
    };
    if (req.kind === 'measure') {
      Promise.resolve().then(() => r.measure(layout)).then((result) => {
        // null: stale, cancelled after it was queued here
        result?.items.forEach((item, k) => this.#deliver(req, task.indices[k], item));
        task.done = task.indices.length;
        settle();
      }, () => {}); // a lost worker re-issues its tasks from its exit
      return;
    }
    (async () => {
      for await (const result of r.render(layout)) {
        this.#deliver(req, task.indices[task.done++], result);
      }
      settle();
    })().catch(() => {});
  }

  async #ensureStarted(w) {
    if (w.renderer) return w.starting;
    const r = new Renderer(this.#options);
    w.renderer = r;
    w.ready = false;
    // After the replies that came before the exit have settled: only the rest is owed.
    r.once('exit', (exit) => setImmediate(() => this.#exited(w, r, exit)));
    w.starting = (async () => {
      await r.hello();
      while (this.#fonts && w.fontsVersion !== this.#fontsVersion) {
        const version = this.#fontsVersion;
        w.fontCount = await register(r, this.#fonts);
        w.fontsVersion = version;
      }
      if (this.#watermark) r.setGeneration(this.#watermark);
      w.ready = true;
      this.#startFailures = 0;
      this.#pump();
    })();
    w.starting.catch(() => r.kill());
    return w.starting;
  }

  #exited(w, r, exit) {
    if (w.renderer !== r) return;
    const lost = w.inflight.splice(0);
    const wasReady = w.ready;
    w.renderer = null;
    w.ready = false;
    w.fontsVersion = 0;
    if (this.#closed) return;
    this.#restarts++;
    if (!wasReady) this.#startFailures++;
    this.emit('restart', { worker: w.index, ...exit, owed: lost.reduce((n, t) => n + t.indices.length - t.done, 0) });
    // Memory exhaustion is the renderer's housekeeping, not the font's fault.
    const fontsFault = exit.exitCode !== ExitCode.memoryHardLimit && exit.exitCode !== ExitCode.ended;
    const requeue = [];
    lost.forEach((task, position) => {
      const owed = task.indices.slice(task.done);
      if (!this.#live.has(task.req) || !owed.length) return;
      if (position > 0 || !fontsFault) {
        requeue.push({ req: task.req, indices: owed, done: 0 });
        return;
      }
      // The first owed font of the first task was being drawn when the worker died. A Measure
      // does not say which of its fonts it was on: retry one font per task to find out.
      if (task.req.kind === 'measure' && owed.length > 1) {
        for (const i of owed) requeue.push({ req: task.req, indices: [i], done: 0 });
        return;
      }
      const [suspect, ...rest] = owed;
      const strikes = (task.req.strikes.get(suspect) ?? 0) + 1;
      task.req.strikes.set(suspect, strikes);
      if (strikes >= kStrikesToFail) {
        this.#deliver(task.req, suspect, { fontId: task.req.request.fontIds[suspect], resolved: false, error: kRendererCrashed });
        if (rest.length) requeue.push({ req: task.req, indices: rest, done: 0 });
      } else {
        requeue.push({ req: task.req, indices: owed, done: 0 });
      }
    });
    this.#queue.unshift(...requeue);
    if (this.#startFailures >= this.#options.maxStartFailures) {
      this.#startFailures = 0;
      const error = new RendererExitError(exit.exitCode, exit.signal, `the renderer failed to start ${this.#options.maxStartFailures} times (${this.#options.rendererPath})`);
      this.cancelAll(error);
      return;
    }
    this.#pump();
  }
}

function register(renderer, fonts) {
  return fonts.length <= kMaxFontsPerChunk ? renderer.registerFonts(fonts) : renderer.registerFontsChunked(fonts);
}
