// The live preview page: an HTTP server on the Node package, 127.0.0.1 only.
//
// GET /fonts     the renderer's fonts, in page order: id, family, style, scripts, kinds
// GET /font      ?id: one font's names, file, scripts, kinds and variation axes
// GET /coverage  ?text: which fonts can show the text, a bit per font in page order (base64)
// GET /render    ?session&version&text&size&dpi&width&ids=f1,f2...&measure=f3,f4...&axes=wght:700,...
//                streams records: u32 LE JSON length, JSON, u32 LE payload length, payload.
//                One A8 bitmap per font of ids, and a height record ({ measured: true }) per
//                font of measure, in the order they are ready. `axes` (one id only) draws that font at
//                those variation-axis values.
// A request of a newer version from the same session cancels the older ones (new generation).

import { setMaxListeners } from 'node:events';
import { readFile } from 'node:fs/promises';
import http from 'node:http';
import { fileURLToPath } from 'node:url';

import { PreviewService } from '../../clients/node/index.js';
import { covers } from './samples.js';
import { listInstalledFonts } from './fonts.js';

const pageDir = fileURLToPath(new URL('./page/', import.meta.url));
const staticFiles = {
  '/': ['index.html', 'text/html; charset=utf-8'],
  '/page.js': ['page.js', 'text/javascript; charset=utf-8'],
  '/records.js': ['records.js', 'text/javascript; charset=utf-8'],
  '/style.css': ['style.css', 'text/css; charset=utf-8'],
  '/favicon.svg': ['favicon.svg', 'image/svg+xml'],
  '/favicon.ico': ['favicon.svg', 'image/svg+xml'],
};
const kMaxIdsPerRequest = 200;
const kMaxMeasuredPerRequest = 1000;
const kMaxText = 200;

export const defaultLimits = {
  maxSessions: 1000, // session records kept; the least recently used idle one makes room
  sessionTtl: 10 * 60 * 1000, // ms an idle session is remembered
  maxSessionIdLength: 64,
  highWaterBytes: 4 * 1024 * 1024, // reply bytes queued on a connection before the server waits
  drainTimeout: 15000, // ms a connection may leave them unread before it is dropped
  batchPixels: 8 * 1024 * 1024, // bitmap bytes one render batch may produce
  cacheBytes: 32 * 1024 * 1024, // bitmaps kept for texts drawn again
};

function record(json, payload = null) {
  const text = Buffer.from(JSON.stringify(json));
  const head = Buffer.alloc(4);
  head.writeUInt32LE(text.length);
  const size = Buffer.alloc(4);
  size.writeUInt32LE(payload ? payload.length : 0);
  return payload ? [head, text, size, payload] : [head, text, size];
}

const number = (value, fallback, min, max) => {
  const n = value === null || value === '' ? NaN : Number(value);
  return Number.isFinite(n) ? Math.min(max, Math.max(min, n)) : fallback;
};

class HttpError extends Error {
  constructor(status, message) {
    super(message);
    this.status = status;
  }
}

function plain(res, status, message) {
  res.writeHead(status, { 'content-type': 'text/plain; charset=utf-8', 'cache-control': 'no-store' }).end(`${message}\n`);
}

// Per-session version records, least recently used first; idle ones expire.
class Sessions {
  #map = new Map();
  #limits;

  constructor(limits) {
    this.#limits = limits;
  }

  get size() {
    return this.#map.size;
  }

  get(id, now = Date.now()) {
    if (id.length > this.#limits.maxSessionIdLength) throw new HttpError(400, 'session id too long');
    this.sweep(now);
    let session = this.#map.get(id);
    if (session) this.#map.delete(id);
    else {
      if (this.#map.size >= this.#limits.maxSessions) this.#evictOne();
      session = { version: 0, requests: new Set(), used: now };
    }
    session.used = now;
    this.#map.set(id, session);
    return session;
  }

  release(id, session, request, now = Date.now()) {
    session.requests.delete(request);
    session.used = now;
  }

  sweep(now = Date.now()) {
    for (const [id, session] of this.#map) {
      if (!session.requests.size && now - session.used > this.#limits.sessionTtl) this.#map.delete(id);
    }
  }

  #evictOne() {
    for (const [id, session] of this.#map) {
      if (!session.requests.size) {
        this.#map.delete(id);
        return;
      }
    }
    throw new HttpError(503, 'too many sessions at work');
  }
}

// Writes records to one response without letting more than the high-water mark (plus the record
// being written) pile up in memory; a client that reads nothing for drainTimeout is dropped.
function replyWriter(res, limits, stats) {
  let closed = false;
  res.on('close', () => (closed = true));
  const drained = () =>
    new Promise((resolve) => {
      const done = () => {
        clearTimeout(timer);
        res.off('drain', done);
        res.off('close', done);
        resolve();
      };
      const timer = setTimeout(() => {
        stats.dropped++;
        res.destroy();
        done();
      }, limits.drainTimeout);
      res.on('drain', done);
      res.on('close', done);
    });
  return {
    get closed() {
      return closed;
    },
    async write(parts) {
      if (closed) return;
      const before = res.writableLength;
      if (before > limits.highWaterBytes) {
        await drained();
        if (closed) return;
      }
      const start = res.writableLength;
      // One system call for the record's parts, not one each.
      res.cork();
      for (const part of parts) res.write(part);
      res.uncork();
      stats.largestRecord = Math.max(stats.largestRecord, res.writableLength - start);
      stats.peakBuffered = Math.max(stats.peakBuffered, res.writableLength);
    },
  };
}

// Runs `work` over items with at most `limit` at a time.
async function pool(items, limit, work) {
  let next = 0;
  await Promise.all(Array.from({ length: Math.min(limit, items.length) }, async () => {
    while (next < items.length) await work(items[next++]);
  }));
}

// Runs `work` over items, as many at a time as their `pixels` fit in `budget` (at least one), in
// order: the renderers get every batch of a small request at once, a large one is held back. The
// first failure is thrown once every started item has settled.
async function budgeted(items, budget, work) {
  let used = 0;
  let next = 0;
  let failure = null;
  const running = new Set();
  while (next < items.length || running.size) {
    while (!failure && next < items.length && (!running.size || used + items[next].pixels <= budget)) {
      const item = items[next++];
      used += item.pixels;
      const job = work(item)
        .catch((error) => (failure ??= { error }))
        .finally(() => {
          used -= item.pixels;
          running.delete(job);
        });
      running.add(job);
    }
    if (!running.size) break;
    await Promise.race(running);
  }
  if (failure) throw failure.error;
}

export async function startServer({ port = 0, rendererPath, workers, fonts: givenFonts, limits: given = {} } = {}) {
  const limits = { ...defaultLimits, ...given };
  const fonts = givenFonts ?? (await listInstalledFonts({ rendererPath }));
  const byId = new Map(fonts.map((f, index) => [f.descriptor.fontId, { ...f, index }]));
  const service = new PreviewService({ rendererPath, workers });
  await service.setFonts(fonts.map((f) => f.descriptor));
  const sessions = new Sessions(limits);
  const sweeper = setInterval(() => sessions.sweep(), Math.min(limits.sessionTtl, 60000));
  sweeper.unref();
  const stats = { dropped: 0, openRenders: 0, peakBuffered: 0, largestRecord: 0 };
  const fontList = JSON.stringify(
    fonts.map((f) => ({ id: f.descriptor.fontId, family: f.family, style: f.style, scripts: f.scripts ?? [], kinds: f.kinds ?? [], sample: f.sample.script })),
  );
  const instances = variationInstances({ rendererPath });
  const recent = bitmapCache(limits.cacheBytes);
  const coverage = coverageIndex(fonts);

  // What a font shows for the typed text: the text, or its own sample when it cannot show it all
  // (or nothing was typed). A font of unknown coverage is given the text.
  const shownBy = (font, text) => (text && (!font.ranges || covers(font.ranges, text)) ? { shown: text, sample: '' } : { shown: font.sample.text, sample: font.sample.script });

  async function render(res, query) {
    const sessionId = query.get('session') ?? '';
    const version = number(query.get('version'), 0, 0, Number.MAX_SAFE_INTEGER);
    const session = sessions.get(sessionId);
    if (version < session.version) throw new HttpError(409, 'stale version');
    if (version > session.version) {
      session.version = version;
      for (const older of session.requests) if (older.version < version) older.controller.abort();
    }
    const mine = { version, controller: new AbortController() };
    session.requests.add(mine);
    stats.openRenders++;
    const { signal } = mine.controller;
    res.on('close', () => mine.controller.abort()); // the page gave up on it, or was dropped
    try {
      await renderTo(res, query, version, signal);
    } finally {
      sessions.release(sessionId, session, mine);
      stats.openRenders--;
    }
  }

  async function renderTo(res, query, version, signal) {
    const text = (query.get('text') ?? '').slice(0, kMaxText);
    const layout = {
      fontSize: number(query.get('size'), 28, 4, 256),
      dpiScale: number(query.get('dpi'), 1, 0.5, 4),
      width: number(query.get('width'), 480, 1, 4096),
    };
    const idList = (name, max) => [...new Set((query.get(name) ?? '').split(','))].filter((id) => byId.has(id)).slice(0, max);
    const ids = idList('ids', kMaxIdsPerRequest);
    const measureOnly = idList('measure', kMaxMeasuredPerRequest).filter((id) => !ids.includes(id));
    const axes = query.get('axes');
    // One service call per shown text.
    const group = (list) => {
      const groups = new Map();
      for (const id of list) {
        const { shown, sample } = shownBy(byId.get(id), text);
        if (!groups.has(shown)) groups.set(shown, { shown, sample, ids: [] });
        groups.get(shown).ids.push(id);
      }
      return [...groups.values()];
    };
    const out = replyWriter(res, limits, stats);
    res.writeHead(200, { 'content-type': 'application/octet-stream', 'cache-control': 'no-store' });
    res.flushHeaders(); // the page is ready to read when the first record comes
    setMaxListeners(64, signal);

    if (axes !== null) {
      if (ids.length === 1) await instances.render(byId.get(ids[0]), axes, { ...layout, ...shownBy(byId.get(ids[0]), text) }, version, signal, out);
      res.end();
      return;
    }

    // Bitmaps, in batches whose estimated pixels fit the budget, so a slow reader holds little.
    const lineHeight = layout.fontSize * 1.4 * layout.dpiScale;
    const pixelsOf = (shown) => Math.ceil(layout.width * layout.dpiScale) * lineHeight * Math.max(1, Math.ceil((shown.length * layout.fontSize * 0.6) / layout.width));
    // A font that cannot show the typed text shows its sample at every keystroke, and a backspace
    // returns to a text just drawn: bitmaps drawn before go out at once, without the renderers.
    const keyOf = (fontId, shown) => JSON.stringify([fontId, shown, layout.fontSize, layout.dpiScale, layout.width]);
    const toDraw = [];
    for (const g of group(ids)) {
      const missing = [];
      for (const fontId of g.ids) {
        const hit = recent.get(keyOf(fontId, g.shown));
        if (hit) await out.write(renderRecord(version, hit, g.shown, g.sample, layout.dpiScale));
        else missing.push(fontId);
      }
      if (missing.length) toDraw.push({ ...g, ids: missing });
    }
    const batches = [];
    for (const g of toDraw) {
      const per = Math.max(1, Math.floor(limits.batchPixels / pixelsOf(g.shown)));
      for (let at = 0; at < g.ids.length; at += per) batches.push({ ...g, ids: g.ids.slice(at, at + per), pixels: pixelsOf(g.shown) * Math.min(per, g.ids.length - at) });
    }
    await budgeted(batches, limits.batchPixels * 2, async ({ shown, sample, ids: batchIds }) => {
      const pending = new Set(batchIds);
      try {
        for await (const r of service.render({ ...layout, text: shown, fontIds: batchIds }, { signal })) {
          pending.delete(r.fontId);
          if (r.resolved) recent.set(keyOf(r.fontId, shown), r);
          if (out.closed) break;
          await out.write(renderRecord(version, r, shown, sample, layout.dpiScale));
        }
      } catch (error) {
        if (error.code === 'ABORT_ERR') return;
        for (const fontId of pending) await out.write(record({ version, fontId, text: shown, sample, error: error.code ?? 'INTERNAL_ERROR' }));
      }
    });
    // Then the heights of rows about to come into view, so the page sizes them before it asks for
    // their bitmaps. After the bitmaps: the renderers take requests in turn, and a row in view
    // must not wait behind rows that are not.
    await pool(group(measureOnly), 2, async ({ shown, sample, ids: groupIds }) => {
      try {
        const { items } = await service.measure({ ...layout, text: shown, fontIds: groupIds }, { signal });
        for (const item of items) {
          if (item?.resolved) await out.write(record({ version, fontId: item.fontId, measured: true, text: shown, sample, height: item.height, lines: item.lineCount }));
        }
      } catch (error) {
        if (error.code !== 'ABORT_ERR') throw error;
      }
    }).catch(() => {}); // heights are a courtesy; the bitmaps report failures
    res.end();
  }

  function fontDetails(id) {
    const f = byId.get(id);
    if (!f) throw new HttpError(404, 'no such font');
    return JSON.stringify({
      id, family: f.family, style: f.style, fullName: f.fullName ?? '', postScriptName: f.postScriptName ?? '',
      file: f.file ?? '', scripts: f.scripts ?? [], kinds: f.kinds ?? [], axes: f.axes ?? [], sample: f.sample,
    });
  }

  const server = http.createServer({ requireHostHeader: false }, async (req, res) => {
    try {
      if (!allowedHosts.has(String(req.headers.host ?? '').toLowerCase())) {
        throw new HttpError(req.headers.host === undefined ? 400 : 403, 'this server answers only to its loopback address');
      }
      // Origin-form only ("/path?query"): anything else names another server or nothing at all.
      if (!req.url.startsWith('/') || req.url.startsWith('//')) throw new HttpError(400, 'bad request target');
      let url;
      try {
        url = new URL(req.url, 'http://127.0.0.1');
      } catch {
        throw new HttpError(400, 'bad request target');
      }
      if (req.method !== 'GET' && req.method !== 'HEAD') throw new HttpError(405, 'only GET');
      if (url.pathname === '/fonts') {
        res.writeHead(200, { 'content-type': 'application/json; charset=utf-8' }).end(fontList);
      } else if (url.pathname === '/font') {
        const details = fontDetails(url.searchParams.get('id') ?? '');
        res.writeHead(200, { 'content-type': 'application/json; charset=utf-8' }).end(details);
      } else if (url.pathname === '/coverage') {
        const text = (url.searchParams.get('text') ?? '').slice(0, kMaxText);
        res.writeHead(200, { 'content-type': 'application/json; charset=utf-8', 'cache-control': 'no-store' }).end(JSON.stringify(coverage(text)));
      } else if (url.pathname === '/render') {
        await render(res, url.searchParams);
      } else if (staticFiles[url.pathname]) {
        const [file, type] = staticFiles[url.pathname];
        res.writeHead(200, { 'content-type': type }).end(await readFile(pageDir + file));
      } else {
        throw new HttpError(404, 'not found');
      }
    } catch (error) {
      if (!res.headersSent) plain(res, error.status ?? 500, error.message ?? String(error));
      else res.destroy();
    }
  });
  await new Promise((resolve) => server.listen(port, '127.0.0.1', resolve));
  const { port: actualPort } = server.address();
  // DNS rebinding: a page of another origin that resolves its name to 127.0.0.1 sends its own Host.
  const allowedHosts = new Set(['127.0.0.1', 'localhost', '[::1]'].map((host) => `${host}:${actualPort}`));
  return {
    url: `http://127.0.0.1:${actualPort}/`,
    service,
    fontCount: fonts.length,
    stats,
    get sessionCount() {
      return sessions.size;
    },
    async close() {
      clearInterval(sweeper);
      server.closeAllConnections?.();
      await new Promise((resolve) => server.close(resolve));
      await Promise.all([service.close(), instances.close()]);
    },
  };
}

function renderRecord(version, r, text, sample, dpi, extra = {}) {
  const common = { version, fontId: r.fontId, text, sample, dpi, ...extra };
  if (!r.resolved) return record({ ...common, error: r.error });
  return record({ ...common, width: r.width, height: r.height, textHeight: r.textHeight }, r.bitmap.subarray(0, r.stride * r.height));
}

// Drawn bitmaps by key, least recently used first, up to a total of bytes.
function bitmapCache(maxBytes) {
  const map = new Map();
  let bytes = 0;
  return {
    get(key) {
      const hit = map.get(key);
      if (hit) {
        map.delete(key);
        map.set(key, hit);
      }
      return hit;
    },
    set(key, r) {
      const size = r.stride * r.height;
      if (size > maxBytes / 4 || map.has(key)) return;
      // A copy: the result's bitmap may be a view of a buffer the client reuses.
      map.set(key, { fontId: r.fontId, resolved: true, width: r.width, height: r.height, stride: r.stride, textHeight: r.textHeight, bitmap: Buffer.from(r.bitmap.subarray(0, size)) });
      bytes += size;
      for (const [oldest, value] of map) {
        if (bytes <= maxBytes) break;
        map.delete(oldest);
        bytes -= value.stride * value.height;
      }
    },
  };
}

// Which fonts cover a text, as a bitset in page order; a font of unknown coverage is not among
// them. Recent answers are kept.
function coverageIndex(fonts) {
  const recent = new Map();
  return (text) => {
    if (recent.has(text)) return recent.get(text);
    const bits = Buffer.alloc(Math.ceil(fonts.length / 8));
    let count = 0;
    fonts.forEach((font, i) => {
      if (font.ranges && covers(font.ranges, text)) {
        bits[i >> 3] |= 1 << (i & 7);
        count++;
      }
    });
    const answer = { text, count, bits: bits.toString('base64') };
    recent.set(text, answer);
    if (recent.size > 32) recent.delete(recent.keys().next().value);
    return answer;
  };
}

// Fonts drawn at chosen variation-axis values: the values travel in the font's descriptor, so
// each instance is registered, on a renderer of its own so the installed set is never replaced.
function variationInstances({ rendererPath }) {
  let service = null;
  let registered = '';
  let queue = Promise.resolve();
  const parse = (font, text) => {
    const values = new Map();
    for (const part of text.split(',')) {
      const [tag, value] = part.split(':');
      const axis = (font.axes ?? []).find((a) => a.tag === tag);
      const n = Number(value);
      if (axis && Number.isFinite(n)) values.set(tag, Math.min(axis.max, Math.max(axis.min, n)));
    }
    return (font.axes ?? []).map((axis) => ({ tag: axis.tag, min: axis.min, max: axis.max, value: values.get(axis.tag) ?? axis.default }));
  };
  return {
    render(font, axesText, { shown, sample, ...layout }, version, signal, out) {
      const axes = parse(font, axesText);
      const descriptor = {
        ...font.descriptor,
        fontId: 'instance',
        designAxesData: axes.map(({ tag, min, max }) => ({ tag, min, max })),
        designVector: axes.map((a) => a.value),
      };
      const key = JSON.stringify(descriptor);
      const axesEcho = Object.fromEntries(axes.map((a) => [a.tag, a.value]));
      // One instance registered at a time: requests take turns.
      const run = queue.then(async () => {
        if (signal.aborted) return;
        service ??= new PreviewService({ rendererPath, workers: 1 });
        if (registered !== key) {
          registered = '';
          await service.setFonts([descriptor]);
          registered = key;
        }
        try {
          for await (const r of service.render({ ...layout, text: shown, fontIds: ['instance'] }, { signal })) {
            await out.write(renderRecord(version, { ...r, fontId: font.descriptor.fontId }, shown, sample, layout.dpiScale, { axes: axesEcho }));
          }
        } catch (error) {
          if (error.code !== 'ABORT_ERR') await out.write(record({ version, fontId: font.descriptor.fontId, text: shown, sample, error: error.code ?? 'INTERNAL_ERROR' }));
        }
      });
      queue = run.catch(() => {});
      return run;
    },
    close: () => service?.close(),
  };
}

if (process.argv[1] === fileURLToPath(import.meta.url)) {
  const port = Number(process.env.PORT ?? 8080);
  const { url, fontCount, close } = await startServer({ port, rendererPath: process.argv[2] });
  console.log(`live preview of ${fontCount} fonts at ${url} (Ctrl-C stops)`);
  process.once('SIGINT', () => close().then(() => process.exit(0)));
  process.once('SIGTERM', () => close().then(() => process.exit(0)));
}
