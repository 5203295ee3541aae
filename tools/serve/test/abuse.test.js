// The page server against hostile or broken clients, on loopback: malformed request lines,
// foreign Host headers, session floods, and a client that never reads its replies.
import assert from 'node:assert/strict';
import net from 'node:net';
import { after, before, test } from 'node:test';

import { startServer } from '../server.js';

let server;
let port;
let fonts;
const limits = { maxSessions: 40, sessionTtl: 400, maxSessionIdLength: 64, highWaterBytes: 256 * 1024, drainTimeout: 500 };

before(async () => {
  server = await startServer({ workers: 2, limits });
  port = Number(new URL(server.url).port);
  fonts = await (await fetch(new URL('/fonts', server.url))).json();
});
after(() => server.close());

// One raw request on its own connection; the reply as the server wrote it.
function raw(head, { timeout = 10000 } = {}) {
  return new Promise((resolve, reject) => {
    const socket = net.connect(port, '127.0.0.1');
    const chunks = [];
    const timer = setTimeout(() => {
      socket.destroy();
      reject(new Error(`no reply to ${JSON.stringify(head)}`));
    }, timeout);
    socket.on('data', (chunk) => chunks.push(chunk));
    socket.on('error', () => {});
    socket.on('close', () => {
      clearTimeout(timer);
      const text = Buffer.concat(chunks).toString('latin1');
      const [status] = text.match(/^HTTP\/1\.1 (\d+)/)?.slice(1) ?? [];
      const headers = Object.fromEntries(
        text.split('\r\n\r\n')[0].split('\r\n').slice(1).map((line) => {
          const at = line.indexOf(':');
          return [line.slice(0, at).toLowerCase(), line.slice(at + 1).trim()];
        }),
      );
      resolve({ status: Number(status), headers, body: text.split('\r\n\r\n').slice(1).join('\r\n\r\n') });
    });
    socket.end(head);
  });
}

const get = (target, host = `127.0.0.1:${port}`) => raw(`GET ${target} HTTP/1.1\r\n${host === null ? '' : `Host: ${host}\r\n`}Connection: close\r\n\r\n`);

test('malformed request targets get 400 and the server stays up', { timeout: 60000 }, async (t) => {
  const cases = [
    ['absolute form with a broken IPv6 host', 'http://[', 400],
    ['scheme-relative with a broken host', '//[', 400],
    ['asterisk form', '*', 400],
    ['absolute form to another host', 'http://evil.example/fonts', 400],
    ['bad percent-encoding in the query', '/render?session=%E0%A4&ids=%zz', 200],
    ['path only', '/nope', 404],
  ];
  for (const [name, target, status] of cases) {
    await t.test(name, async () => {
      const reply = await get(target);
      assert.equal(reply.status, status);
      assert.match(reply.headers['content-type'], status === 200 ? /octet-stream/ : /^text\/plain; charset=utf-8$/);
    });
  }
  assert.equal((await fetch(new URL('/fonts', server.url))).status, 200);
});

test('only loopback host names with the server’s port are served', { timeout: 60000 }, async (t) => {
  const cases = [
    [`127.0.0.1:${port}`, 200],
    [`localhost:${port}`, 200],
    [`LocalHost:${port}`, 200],
    [`[::1]:${port}`, 200],
    [`attacker.example:${port}`, 403],
    [`localhost.attacker.example:${port}`, 403],
    ['attacker.example', 403],
    ['localhost', 403],
    [`127.0.0.1:${port + 1}`, 403],
    [`127.0.0.2:${port}`, 403],
    [null, 400],
  ];
  for (const [host, status] of cases) {
    await t.test(String(host), async () => {
      const reply = await get('/fonts', host);
      assert.equal(reply.status, status);
      if (status !== 200) {
        assert.match(reply.headers['content-type'], /^text\/plain/);
        assert.doesNotMatch(reply.body, /"family"/, 'no font list to a foreign host');
      }
    });
  }
});

test('error replies carry a content type', { timeout: 60000 }, async (t) => {
  await (await fetch(new URL(`/render?session=ct&version=5&ids=`, server.url))).arrayBuffer();
  const cases = [
    ['unknown path', '/missing', 404],
    ['stale version', `/render?session=ct&version=1&ids=${fonts[0].id}`, 409],
    ['over-long session id', `/render?session=${'s'.repeat(65)}&version=1&ids=`, 400],
  ];
  for (const [name, path, status] of cases) {
    await t.test(name, async () => {
      const reply = await fetch(new URL(path, server.url));
      assert.equal(reply.status, status);
      assert.equal(reply.headers.get('content-type'), 'text/plain; charset=utf-8');
      assert.ok((await reply.text()).length > 0);
    });
  }
});

test('session records are bounded: id length, total count, expiry', { timeout: 60000 }, async () => {
  const long = await fetch(new URL(`/render?session=${'x'.repeat(16000)}&version=1&ids=`, server.url));
  assert.equal(long.status, 400);
  await long.text();
  for (let i = 0; i < limits.maxSessions * 3; i++) {
    const r = await fetch(new URL(`/render?session=flood${i}&version=1&ids=`, server.url));
    assert.equal(r.status, 200);
    await r.arrayBuffer();
    assert.ok(server.sessionCount <= limits.maxSessions, `${server.sessionCount} sessions after ${i + 1}`);
  }
  // Within its lifetime a session still refuses its own older versions.
  await (await fetch(new URL('/render?session=kept&version=3&ids=', server.url))).arrayBuffer();
  assert.equal((await fetch(new URL('/render?session=kept&version=2&ids=', server.url))).status, 409);
  await new Promise((resolve) => setTimeout(resolve, limits.sessionTtl * 3));
  assert.equal(server.sessionCount, 0, 'idle sessions expire');
});

test('a client that does not read is dropped and its work cancelled', { timeout: 120000 }, async () => {
  const ids = fonts.filter((f) => /^(DejaVu|Noto Sans$)/.test(f.family)).slice(0, 40).map((f) => f.id);
  const query = new URLSearchParams({ session: 'sloth', version: 1, text: 'Hamburgefonstiv '.repeat(12), size: 128, dpi: 2, width: 2048, ids: ids.join(',') });
  const socket = net.connect(port, '127.0.0.1');
  socket.on('error', () => {});
  await new Promise((resolve) => socket.once('connect', resolve));
  socket.pause(); // never reads: the kernel buffers fill, then the server's
  socket.write(`GET /render?${query} HTTP/1.1\r\nHost: 127.0.0.1:${port}\r\n\r\n`);
  const deadline = Date.now() + 60000;
  while (server.stats.dropped === 0 && Date.now() < deadline) await new Promise((resolve) => setTimeout(resolve, 50));
  assert.equal(server.stats.dropped, 1, 'the reader that stalled was dropped');
  while (server.stats.openRenders > 0 && Date.now() < deadline) await new Promise((resolve) => setTimeout(resolve, 50));
  assert.equal(server.stats.openRenders, 0, 'nothing is left running for it');
  assert.ok(server.stats.peakBuffered <= limits.highWaterBytes + server.stats.largestRecord,
    `buffered ${server.stats.peakBuffered} bytes, high water ${limits.highWaterBytes}, largest record ${server.stats.largestRecord}`);
  socket.destroy();
  // A reader that keeps up gets everything.
  const fast = await fetch(new URL(`/render?${new URLSearchParams({ ...Object.fromEntries(query), session: 'reader' })}`, server.url));
  const bytes = Buffer.from(await fast.arrayBuffer());
  assert.ok(bytes.length > 40 * 4096, `${bytes.length} bytes`);
  assert.equal(server.stats.dropped, 1);
});
