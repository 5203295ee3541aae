// The live preview page: an HTTP server on the Node package, 127.0.0.1 only.
//
// GET /fonts    the installed fonts (names from fontconfig), in page order
// GET /render   ?session&version&text&size&dpi&width&ids=f1,f2... streams one record per font:
//               u32 LE JSON length, JSON, u32 LE payload length, A8 payload
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
  '/style.css': ['style.css', 'text/css; charset=utf-8'],
};
const kMaxIdsPerRequest = 200;

function record(json, payload = null) {
  const text = Buffer.from(JSON.stringify(json));
  const head = Buffer.alloc(4);
  head.writeUInt32LE(text.length);
  const size = Buffer.alloc(4);
  size.writeUInt32LE(payload ? payload.length : 0);
  return payload ? [head, text, size, payload] : [head, text, size];
}

const number = (value, fallback, min, max) => {
  const n = value === null || value === "" ? NaN : Number(value);
  return Number.isFinite(n) ? Math.min(max, Math.max(min, n)) : fallback;
};

export async function startServer({ port = 0, rendererPath, workers } = {}) {
  const fonts = listInstalledFonts();
  const byId = new Map(fonts.map((f) => [f.descriptor.fontId, f]));
  const service = new PreviewService({ rendererPath, workers });
  await service.registerFonts(fonts.map((f) => f.descriptor));
  const sessions = new Map(); // session -> { version, requests: Set<{ version, controller }> }
  const fontList = JSON.stringify(
    fonts.map((f) => ({ id: f.descriptor.fontId, family: f.family, style: f.style, sampleScript: f.sample.script })),
  );

  async function render(req, res, query) {
    const sessionId = query.get('session') ?? '';
    const version = number(query.get('version'), 0, 0, Number.MAX_SAFE_INTEGER);
    const session = sessions.get(sessionId) ?? { version: 0, requests: new Set() };
    sessions.set(sessionId, session);
    if (version < session.version) {
      res.writeHead(409).end('stale version');
      return;
    }
    if (version > session.version) {
      session.version = version;
      for (const older of session.requests) if (older.version < version) older.controller.abort();
    }
    const mine = { version, controller: new AbortController() };
    session.requests.add(mine);
    const { signal } = mine.controller;
    res.on('close', () => mine.controller.abort()); // the page gave up on it

    const text = (query.get('text') ?? '').slice(0, 200);
    const layout = {
      fontSize: number(query.get('size'), 28, 4, 256),
      dpiScale: number(query.get('dpi'), 1, 0.5, 8),
      width: number(query.get('width'), 480, 1, 8192),
    };
    const ids = (query.get('ids') ?? '').split(',').filter((id) => byId.has(id)).slice(0, kMaxIdsPerRequest);
    // Fonts that cannot show the typed text show their script's sample: one render per text.
    const groups = new Map();
    for (const id of ids) {
      const font = byId.get(id);
      const own = covers(font.ranges, text);
      const shown = own ? text : font.sample.text;
      if (!groups.has(shown)) groups.set(shown, { sample: own ? '' : font.sample.script, ids: [] });
      groups.get(shown).ids.push(id);
    }
    // One render per group listens on this request's signal; each removes its listener when done.
    setMaxListeners(groups.size + 1, signal);
    res.writeHead(200, { 'content-type': 'application/octet-stream', 'cache-control': 'no-store' });
    const write = (json, payload) => {
      if (!signal.aborted) for (const part of record({ version, ...json }, payload)) res.write(part);
    };
    await Promise.all(
      [...groups].map(async ([shown, { sample, ids: groupIds }]) => {
        const pending = new Set(groupIds);
        try {
          for await (const r of service.render({ ...layout, text: shown, fontIds: groupIds }, { signal })) {
            pending.delete(r.fontId);
            const common = { fontId: r.fontId, text: shown, sample, dpi: layout.dpiScale };
            if (r.resolved) write({ ...common, width: r.width, height: r.height }, r.bitmap.subarray(0, r.stride * r.height));
            else write({ ...common, error: r.error });
          }
        } catch (error) {
          if (error.code === 'ABORT_ERR') return;
          for (const fontId of pending) write({ fontId, text: shown, sample, error: error.code ?? 'INTERNAL_ERROR' });
        }
      }),
    );
    session.requests.delete(mine);
    res.end();
  }

  const server = http.createServer(async (req, res) => {
    const url = new URL(req.url, 'http://localhost');
    try {
      if (url.pathname === '/fonts') {
        res.writeHead(200, { 'content-type': 'application/json' }).end(fontList);
      } else if (url.pathname === '/render') {
        await render(req, res, url.searchParams);
      } else if (staticFiles[url.pathname]) {
        const [file, type] = staticFiles[url.pathname];
        res.writeHead(200, { 'content-type': type }).end(await readFile(pageDir + file));
      } else {
        res.writeHead(404).end('not found');
      }
    } catch (error) {
      if (!res.headersSent) res.writeHead(500);
      res.end(String(error?.message ?? error));
    }
  });
  await new Promise((resolve) => server.listen(port, '127.0.0.1', resolve));
  const url = `http://127.0.0.1:${server.address().port}/`;
  return {
    url,
    service,
    fontCount: fonts.length,
    async close() {
      server.closeAllConnections?.();
      await new Promise((resolve) => server.close(resolve));
      await service.close();
    },
  };
}

if (process.argv[1] === fileURLToPath(import.meta.url)) {
  const port = Number(process.env.PORT ?? 8080);
  const { url, fontCount, close } = await startServer({ port, rendererPath: process.argv[2] });
  console.log(`live preview of ${fontCount} fonts at ${url} (Ctrl-C stops)`);
  process.once('SIGINT', () => close().then(() => process.exit(0)));
  process.once('SIGTERM', () => close().then(() => process.exit(0)));
}
