// One renderer process: spawn, typed requests, replies as Promises and async iterables.
//
// The renderer answers frames strictly in order, so replies are matched to requests by a FIFO of
// expectations. Requests it will drop silently (generation not above the watermark) are known
// here, because the watermark only moves through setGeneration() on this same stream.

import { spawn as spawnProcess } from 'node:child_process';
import { EventEmitter } from 'node:events';
import { createRequire } from 'node:module';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

import { AsyncQueue } from './async_queue.js';
import { AbortError, invalid, ProtocolError, RendererError, RendererExitError, TimeoutError } from './errors.js';
import { encodeFrame, FrameDecoder } from './frames.js';
import { kMaxFontsPerChunk, kProtocolVersion, MessageType as T, typeName } from './messages.js';
import { layoutJson } from './requests.js';
import { checkFonts } from './validate.js';
import { kTestAccess } from './testing.js';

// The renderer binary inside a platform package, relative to that package's directory.
export const rendererFileIn = (platform) => (platform === 'win32' ? 'bin/kest-font-preview-renderer.exe' : 'bin/kest-font-preview-renderer');

const require = createRequire(import.meta.url);
const resolvePackageJson = (name) => require.resolve(`${name}/package.json`);

// $KFP_RENDERER, else the binary of the platform package installed beside this one
// (@kest-font-preview/linux-x64, ...: optional dependencies, so only the one for this platform is
// there), else this repository's build of the renderer for the platform.
export function defaultRendererPath({ platform = process.platform, arch = process.arch, env = process.env, resolve = resolvePackageJson } = {}) {
  if (env.KFP_RENDERER) return env.KFP_RENDERER;
  try {
    return path.join(path.dirname(resolve(`@kest-font-preview/${platform}-${arch}`)), rendererFileIn(platform));
  } catch {
    // Not installed: a checkout of the repository.
  }
  return fileURLToPath(new URL(platform === 'win32' ? '../../../build/windows/kest-font-preview-renderer.exe' : '../../../build/release/kest-font-preview-renderer', import.meta.url));
}

// The renderer is a console program: a GUI host on Windows must not get a console window for it.
export const kSpawnOptions = Object.freeze({ stdio: ['pipe', 'pipe', 'pipe'], windowsHide: true });

const kStderrKept = 64 * 1024;
const asyncDispose = Symbol.asyncDispose ?? Symbol.for('nodejs.asyncDispose');

export class Renderer extends EventEmitter {
  #child;
  #decoder = new FrameDecoder();
  #pending = [];
  #watermark = 0;
  #timer = null;
  #replyTimeout;
  #fatal = null;
  #failure = null;
  #exit = null;
  #stderr = '';
  #ending = false; // shutdown() or kill() waits for the exit
  #referenced = null;

  constructor({ rendererPath = defaultRendererPath(), args = [], replyTimeout = 10000, spawn = spawnProcess } = {}) {
    super();
    this.rendererPath = rendererPath;
    this.#replyTimeout = replyTimeout;
    this.#child = spawn(rendererPath, args, { ...kSpawnOptions });
    this.exited = new Promise((resolve) => {
      this.#child.once('close', (exitCode, signal) => resolve(this.#ended(exitCode, signal)));
    });
    this.#child.once('error', (error) => {
      // Never spawned: 'close' still follows, with a null code.
      this.#failure ??= new RendererExitError(null, null, `cannot start ${rendererPath}: ${error.message}`);
    });
    this.#child.stdin.on('error', () => {}); // a renderer gone mid-write surfaces through its exit
    this.#child.stdout.on('data', (chunk) => this.#received(chunk));
    this.#child.stderr.on('data', (chunk) => {
      if (this.#stderr.length < kStderrKept) this.#stderr += chunk.toString('utf8');
    });
    this.#holdProcess();
  }

  // Spawns and completes the handshake.
  static async start(options) {
    const renderer = new Renderer(options);
    try {
      await renderer.hello();
    } catch (error) {
      renderer.kill();
      throw error;
    }
    return renderer;
  }

  get pid() {
    return this.#child.pid;
  }
  get running() {
    return this.#exit === null && this.#failure === null;
  }
  // What the renderer wrote to standard error (it never should).
  get stderr() {
    return this.#stderr;
  }
  get watermark() {
    return this.#watermark;
  }
  // Replies still owed.
  get pendingReplies() {
    return this.#pending.length;
  }

  hello(protocolVersion = kProtocolVersion) {
    return this.#single(T.hello, { protocolVersion }, T.helloAck);
  }

  // RegisterFonts: replaces the whole registered set (at most 250 fonts per message is not a limit
  // here; 50000 is). The size of the new active set.
  async registerFonts(fonts) {
    return (await this.#single(T.registerFonts, { fonts }, T.fontsRegistered)).fontCount;
  }

  // Replaces the whole registered set, in one message or in chunks, whichever the size needs.
  async setFonts(fonts) {
    checkFonts(fonts);
    return fonts.length <= kMaxFontsPerChunk ? this.registerFonts(fonts) : this.registerFontsChunked(fonts);
  }

  async beginFonts(fontCount) {
    await this.#single(T.beginFonts, { fontCount }, T.beginFontsAck);
  }

  async fontChunk(fonts) {
    return (await this.#single(T.fontChunk, { fonts }, T.fontChunkAck)).receivedCount;
  }

  async commitFonts() {
    return (await this.#single(T.commitFonts, {}, T.fontsRegistered)).fontCount;
  }

  // BeginFonts, FontChunk... CommitFonts, all written at once; the size of the new active set.
  async registerFontsChunked(fonts, chunkSize = kMaxFontsPerChunk) {
    const replies = [this.beginFonts(fonts.length)];
    for (let i = 0; i < fonts.length; i += chunkSize) {
      replies.push(this.fontChunk(fonts.slice(i, i + chunkSize)));
    }
    replies.push(this.commitFonts());
    const settled = await Promise.allSettled(replies);
    const failed = settled.find((s) => s.status === 'rejected');
    if (failed) throw failed.reason;
    return settled.at(-1).value;
  }

  // The MeasureResult, or null when the request is stale (the renderer drops it).
  measure(request) {
    checkObject(request);
    const generation = request.generation ?? 0;
    const fontIds = stringIds(request.fontIds);
    if (generation <= this.#watermark) return Promise.resolve(null);
    this.#write(T.measure, layoutJson({ ...request, fontIds }, generation));
    // A Ping behind the Measure: its Pong proves that a missing MeasureResult was dropped.
    this.#write(T.ping, '');
    return new Promise((resolve, reject) => {
      let result = null;
      let error = null;
      this.#expect({
        accept: (frame) => {
          if (frame.type === T.pong) {
            if (result) resolve(result);
            else reject(error ?? new RendererError('MEASURE_RESULT_DROPPED', 'the renderer dropped a MeasureResult over its 8 MiB reply limit'));
            return true;
          }
          if (result || error) throw unexpected(frame, 'Pong');
          if (frame.type === T.error) error = new RendererError(frame.json.error);
          else if (frame.type === T.measureResult) result = checkMeasureResult(frame.json, fontIds, generation);
          else throw unexpected(frame, 'MeasureResult');
          return false;
        },
        // A renderer that ends after answering (exit 75 comes at the next frame) still answered.
        fail: (failure) => (result ? resolve(result) : reject(failure)),
      });
    });
  }

  // One RenderResult per font id, as each is drawn; nothing when the request is stale.
  render(request) {
    checkObject(request);
    const generation = request.generation ?? 0;
    const fontIds = stringIds(request.fontIds);
    const results = new AsyncQueue();
    if (generation <= this.#watermark || !fontIds.length) {
      results.end();
      return results;
    }
    this.#write(T.render, layoutJson({ ...request, fontIds }, generation));
    let next = 0;
    this.#expect({
      accept: (frame) => {
        if (frame.type === T.error) {
          results.fail(new RendererError(frame.json.error));
          return true;
        }
        if (frame.type !== T.renderResult) throw unexpected(frame, 'RenderResult');
        results.push(toRenderResult(frame, fontIds[next], generation));
        if (++next < fontIds.length) return false;
        results.end();
        return true;
      },
      fail: (error) => results.fail(error),
    });
    return results;
  }

  async renderAll(request) {
    const all = [];
    for await (const result of this.render(request)) all.push(result);
    return all;
  }

  setGeneration(generation) {
    this.#write(T.setGeneration, { generation });
    if (generation > this.#watermark) this.#watermark = generation;
  }

  async ping() {
    await this.#single(T.ping, {}, T.pong);
  }

  clearCache() {
    this.#write(T.clearCache, {});
  }

  get [kTestAccess]() {
    return { sendRaw: (...args) => this.#sendRaw(...args) };
  }

  #sendRaw(type, json = '', payload = null, { replies = 0 } = {}) {
    this.#write(type, json, payload);
    if (!replies) return Promise.resolve([]);
    return new Promise((resolve, reject) => {
      const frames = [];
      this.#expect({
        accept: (frame) => {
          frames.push(frame);
          if (frames.length < replies) return false;
          resolve(frames);
          return true;
        },
        fail: reject,
      });
    });
  }

  // Shutdown, end of input, then the exit; killed when it has not ended within `timeout` ms.
  async shutdown(timeout = 5000) {
    if (this.#exit) return this.#exit;
    this.#ending = true;
    this.#holdProcess();
    if (this.running) {
      this.#write(T.shutdown, {});
      this.#child.stdin.end();
    } else {
      this.kill();
    }
    const timer = setTimeout(() => this.kill(), timeout);
    try {
      return await this.exited;
    } finally {
      clearTimeout(timer);
    }
  }

  kill(signal = 'SIGKILL') {
    if (this.#exit !== null) return;
    this.#ending = true;
    this.#holdProcess();
    this.#child.kill(signal);
  }

  // `await using renderer = await Renderer.start()` shuts it down at the end of the block.
  [asyncDispose]() {
    return this.shutdown().then(() => {});
  }

  // An idle renderer does not keep the host's event loop alive (a host that forgets to close it
  // still ends, and the renderer then ends at the end of its input); one that owes a reply, or
  // whose exit is awaited, does.
  #holdProcess() {
    const wanted = this.#pending.length > 0 || this.#ending;
    if (wanted === this.#referenced) return;
    this.#referenced = wanted;
    const method = wanted ? 'ref' : 'unref';
    this.#child[method]();
    for (const stream of [this.#child.stdin, this.#child.stdout, this.#child.stderr]) stream?.[method]?.();
  }

  #single(type, json, replyType) {
    this.#write(type, json);
    return new Promise((resolve, reject) => {
      this.#expect({
        accept: (frame) => {
          if (frame.type === replyType) resolve(frame.json);
          else if (frame.type === T.error) reject(new RendererError(frame.json.error));
          else throw unexpected(frame, typeName(replyType));
          return true;
        },
        fail: reject,
      });
    });
  }

  #write(type, json, payload = null) {
    if (!this.running) throw this.#failure ?? this.#exitError();
    this.#child.stdin.write(encodeFrame(type, json, payload));
  }

  #expect(expectation) {
    this.#pending.push(expectation);
    this.#holdProcess();
    if (!this.#timer) this.#armTimer();
  }

  #armTimer() {
    clearTimeout(this.#timer);
    this.#timer = null;
    if (!this.#pending.length || !this.running) return;
    this.#timer = setTimeout(() => this.#abandon(new TimeoutError(this.#replyTimeout)), this.#replyTimeout);
    this.#timer.unref?.();
  }

  #received(chunk) {
    if (this.#failure) return;
    try {
      for (const frame of this.#decoder.push(chunk)) this.#dispatch(frame);
    } catch (error) {
      this.#abandon(error instanceof ProtocolError ? error : new ProtocolError(error.message));
      return;
    }
    this.#armTimer();
  }

  #dispatch(frame) {
    if (frame.type === T.fatalError) {
      this.#fatal = frame.json.error ?? 'FATAL_ERROR';
      this.emit('fatalError', this.#fatal);
      return;
    }
    const head = this.#pending[0];
    if (!head) throw unexpected(frame, 'no reply');
    if (head.accept(frame)) {
      this.#pending.shift();
      this.#holdProcess();
    }
  }

  // Gives up on this renderer: every owed reply fails with `error`, the process is killed.
  #abandon(error) {
    if (this.#failure) return;
    this.#failure = error;
    this.#failAll(error);
    this.kill();
  }

  #failAll(error) {
    clearTimeout(this.#timer);
    this.#timer = null;
    for (const expectation of this.#pending.splice(0)) expectation.fail(error);
    this.#holdProcess();
  }

  #exitError() {
    const { exitCode, signal } = this.#exit ?? {};
    const why = this.#fatal ? ` after FatalError ${this.#fatal}` : '';
    return new RendererExitError(exitCode, signal, `renderer exited (${signal ? `signal ${signal}` : `code ${exitCode}`})${why}`);
  }

  #ended(exitCode, signal) {
    this.#exit = { exitCode, signal, fatal: this.#fatal };
    if (!this.#failure && this.#decoder.buffered) {
      this.#failure = new ProtocolError(`the output ended inside a frame (${this.#decoder.buffered} bytes)`);
    }
    this.#failAll(this.#failure ?? this.#exitError());
    this.emit('exit', this.#exit);
    return this.#exit;
  }
}

function checkObject(request) {
  if (request === null || typeof request !== 'object') throw invalid(TypeError, 'INVALID_REQUEST', 'the request must be an object');
}

const stringIds = (ids) => (Array.isArray(ids) ? ids.filter((id) => typeof id === 'string') : []);

const unexpected = (frame, wanted) =>
  new ProtocolError(`expected ${wanted}, got ${typeName(frame.type)} ${JSON.stringify(frame.json).slice(0, 120)}`);

function checkMeasureResult(json, fontIds, generation) {
  if (json.generation !== generation || !Array.isArray(json.items) || json.items.length !== fontIds.length) {
    throw new ProtocolError(`MeasureResult does not answer the request: ${JSON.stringify(json).slice(0, 120)}`);
  }
  json.items.forEach((item, i) => {
    if (item?.fontId !== fontIds[i] || typeof item.resolved !== 'boolean') {
      throw new ProtocolError(`MeasureResult item ${i} is not font ${fontIds[i]}`);
    }
  });
  return json;
}

function toRenderResult(frame, fontId, generation) {
  const r = frame.json;
  if (r.fontId !== fontId || r.generation !== generation || typeof r.resolved !== 'boolean') {
    throw new ProtocolError(`RenderResult for ${JSON.stringify(r.fontId)}, expected ${JSON.stringify(fontId)}`);
  }
  if (!r.resolved) {
    if (typeof r.error !== 'string' || frame.payload.length) throw new ProtocolError(`failed RenderResult of ${fontId} without an error code or with a payload`);
    return r;
  }
  const whole = (n) => Number.isInteger(n) && n >= 0;
  if (!whole(r.width) || !whole(r.height) || !whole(r.stride) || r.stride < r.width || frame.payload.length !== r.stride * r.height) {
    throw new ProtocolError(`RenderResult of ${fontId}: ${r.width}x${r.height} stride ${r.stride} with ${frame.payload.length} payload bytes`);
  }
  return { ...r, bitmap: frame.payload };
}

export { AbortError };
