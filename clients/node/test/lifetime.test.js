// Renderers and the host's process: an idle renderer does not keep Node running, a renderer that
// owes a reply does, and a host that ends without closing leaves no renderer behind.
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import { readFileSync } from 'node:fs';
import { test } from 'node:test';

import { rendererPath, untilTrue } from './helpers.js';

const packageUrl = new URL('../index.js', import.meta.url).href;
const testingUrl = new URL('../src/testing.js', import.meta.url).href;

// Alive and not a zombie: a renderer left by a host that has ended is reaped by whoever adopts it.
const running = (pid) => {
  try {
    return !/^\d+ \(.*\) Z/.test(readFileSync(`/proc/${pid}/stat`, 'utf8'));
  } catch {
    return false;
  }
};

// Runs `body` as a module in its own Node; resolves with what it printed, or rejects if it was
// still running after `ms`.
function host(body, ms = 20000) {
  const script = `import { PreviewService, Renderer } from '${packageUrl}';\nimport { rendererPids } from '${testingUrl}';\n${body}`;
  return new Promise((resolve, reject) => {
    execFile(process.execPath, ['--input-type=module', '-e', script], { timeout: ms, env: { ...process.env, KFP_RENDERER: rendererPath } }, (error, stdout, stderr) => {
      if (error) reject(new Error(`${error.killed ? 'still running, killed' : `exit ${error.code}`}: ${stderr}`));
      else resolve(stdout);
    });
  });
}

const fonts = `[{ fontId: 'sans', familyName: 'DejaVu Sans' }]`;

test('a host ends on its own with idle renderers, and they end after it', { timeout: 120000 }, async (t) => {
  const cases = [
    ['a service after a render, never closed', `
      const service = new PreviewService({ workers: 2 });
      await service.setFonts(${fonts});
      await service.renderAll({ text: 'a', fontIds: ['sans', 'sans', 'sans', 'sans'] });
      console.log(rendererPids(service).join(' '));`],
    ['a renderer after Hello, never shut down', `
      const renderer = await Renderer.start();
      await renderer.setFonts(${fonts});
      console.log(renderer.pid);`],
    ['a service never used', `
      const service = new PreviewService();
      console.log('');`],
  ];
  for (const [name, body] of cases) {
    await t.test(name, async () => {
      const pids = (await host(body)).trim().split(' ').filter(Boolean).map(Number);
      await untilTrue(() => !pids.some(running));
    });
  }
});

test('a host is kept running while a reply is owed, and while close() is awaited', { timeout: 120000 }, async (t) => {
  const cases = [
    ['a measure nobody awaits', `
      const service = new PreviewService({ workers: 1 });
      service.setFonts(${fonts})
        .then(() => service.measure({ text: 'a', fontIds: ['sans'] }))
        .then((m) => console.log('measured', m.items[0].resolved));`, 'measured true'],
    ['code after await close()', `
      const service = new PreviewService({ workers: 1 });
      await service.setFonts(${fonts});
      await service.close();
      console.log('closed', rendererPids(service).length);`, 'closed 0'],
    ['code after await shutdown()', `
      const renderer = await Renderer.start();
      const exit = await renderer.shutdown();
      console.log('exit', exit.exitCode);`, 'exit 0'],
    ['code after kill() and await exited', `
      const renderer = await Renderer.start();
      renderer.kill();
      const exit = await renderer.exited;
      console.log('exit', exit.signal);`, 'exit SIGKILL'],
  ];
  for (const [name, body, printed] of cases) {
    await t.test(name, async () => {
      assert.equal((await host(body)).trim(), printed);
    });
  }
});
