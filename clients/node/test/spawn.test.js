// How renderer processes are started: the options every spawn gets (no console window on
// Windows), and the default path on each platform.
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { test } from 'node:test';

import { defaultRendererPath, PreviewService, Renderer } from '../index.js';
import { fakeRendererPath, untilTrue } from './helpers.js';
import { rendererPids } from '../src/testing.js';

function recordingSpawn() {
  const calls = [];
  const record = (file, args, options) => {
    calls.push({ file, args, options });
    return spawn(file, args, options);
  };
  return { calls, spawn: record };
}

const wanted = { stdio: ['pipe', 'pipe', 'pipe'], windowsHide: true };

test('every renderer is spawned with piped stdio and no window', { timeout: 60000 }, async (t) => {
  await t.test('Renderer', async () => {
    const { calls, spawn } = recordingSpawn();
    const renderer = await Renderer.start({ rendererPath: fakeRendererPath, args: ['x'], spawn });
    await renderer.shutdown();
    assert.deepEqual(calls, [{ file: fakeRendererPath, args: ['x'], options: wanted }]);
  });
  await t.test('PreviewService, its workers and their replacements', async () => {
    const { calls, spawn } = recordingSpawn();
    const service = new PreviewService({ rendererPath: fakeRendererPath, workers: 2, batchSize: 1, spawn });
    t.after(() => service.close());
    await service.setFonts([{ fontId: 'a' }]);
    await service.renderAll({ fontIds: ['a', 'a'] });
    process.kill(rendererPids(service)[0], 'SIGKILL');
    await untilTrue(() => service.restarts === 1);
    await service.renderAll({ fontIds: ['a', 'a'] });
    await service.close();
    assert.equal(calls.length, 3);
    for (const call of calls) assert.deepEqual(call, { file: fakeRendererPath, args: [], options: wanted });
  });
});

test('the default renderer path per platform, and KFP_RENDERER over it', () => {
  const cases = [
    ['linux', {}, /[/\\]build[/\\]release[/\\]kest-font-preview-renderer$/],
    ['darwin', {}, /[/\\]build[/\\]release[/\\]kest-font-preview-renderer$/],
    ['win32', {}, /[/\\]build[/\\]windows[/\\]kest-font-preview-renderer\.exe$/],
    ['linux', { KFP_RENDERER: '/opt/r' }, /^\/opt\/r$/],
    ['win32', { KFP_RENDERER: 'C:\\r\\kfp.exe' }, /^C:\\r\\kfp\.exe$/],
  ];
  for (const [platform, env, pattern] of cases) {
    assert.match(defaultRendererPath({ platform, env }), pattern, `${platform} ${JSON.stringify(env)}`);
  }
});
