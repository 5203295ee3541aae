// listInstalledFonts: the renderer's own list, registered back, resolves in full; a renderer that
// cannot list is a coded error; the platform package's binary is the default renderer.
import assert from 'node:assert/strict';
import path from 'node:path';
import { test } from 'node:test';

import { defaultRendererPath, listInstalledFonts, PreviewService } from '../index.js';
import { fakeRendererPath, rendererPath } from './helpers.js';

test('every font the renderer lists resolves when registered back', { timeout: 60000 }, async () => {
  const listed = await listInstalledFonts({ rendererPath });
  assert.ok(listed.length > 100, `only ${listed.length} fonts listed`);
  assert.ok(listed.some((f) => f.familyName === 'Inter' && f.designAxesData.length > 0));
  assert.ok(listed.some((f) => f.familyName === 'Terminus'));
  const fonts = listed.map((font, i) => ({ ...font, fontId: `f${i}` }));
  const service = new PreviewService({ rendererPath, workers: 1 });
  try {
    assert.equal(await service.setFonts(fonts), fonts.length);
    const result = await service.measure({ text: 'Hamburgefonstiv', fontIds: fonts.map((f) => f.fontId) });
    const failed = result.items.filter((item) => !item.resolved);
    assert.deepEqual(failed, []);
    assert.equal(result.items.length, fonts.length);
  } finally {
    await service.close();
  }
});

test('a renderer that cannot list its fonts is a coded error', async (t) => {
  const fails = (error, stdout) => (file, args, options, callback) => callback(error, stdout);
  const cases = [
    ['no such program', { rendererPath: '/nonexistent/renderer' }, 'RENDERER_EXITED'],
    ['exits with a failure', { execFile: fails(Object.assign(new Error('exit 3'), { code: 3 }), '') }, 'RENDERER_EXITED'],
    ['prints something else', { execFile: fails(null, '{"familyName":"A"}\nnot json\n') }, 'MALFORMED_REPLY'],
    ['axis arrays that do not pair', { execFile: fails(null, '{"familyName":"A","designAxesData":[{}],"designVector":[]}\n') }, 'MALFORMED_REPLY'],
    ['a program that is no renderer', { rendererPath: fakeRendererPath, timeout: 2000 }, 'RENDERER_EXITED'],
  ];
  for (const [name, options, code] of cases) {
    await t.test(name, async () => {
      await assert.rejects(listInstalledFonts({ rendererPath, ...options }), (e) => e instanceof Error && e.code === code);
    });
  }
  assert.throws(() => listInstalledFonts({ rendererPath: '' }), (e) => e instanceof TypeError && e.code === 'INVALID_OPTION');
});

test('lines are returned as the renderer wrote them, empty lines skipped', async () => {
  const line = { familyName: 'Inter', fullName: 'Inter Bold', designAxesData: [{ tag: 'wght', min: 100, max: 900 }], designVector: [700] };
  const execFile = (file, args, options, callback) => {
    assert.deepEqual(args, ['--list-fonts']);
    callback(null, `${JSON.stringify(line)}\n\n${JSON.stringify({ familyName: 'X' })}\n`);
  };
  assert.deepEqual(await listInstalledFonts({ rendererPath: '/r', execFile }), [line, { familyName: 'X' }]);
});

test('the installed platform package gives the default renderer; KFP_RENDERER wins over it', () => {
  const packageDir = path.join('/app', 'node_modules', '@kest-font-preview');
  const resolve = (name) => path.join('/app', 'node_modules', name, 'package.json');
  const missing = () => {
    throw new Error('not installed');
  };
  const cases = [
    [{ platform: 'linux', arch: 'x64', env: {}, resolve }, path.join(packageDir, 'linux-x64', 'bin', 'kest-font-preview-renderer')],
    [{ platform: 'win32', arch: 'x64', env: {}, resolve }, path.join(packageDir, 'win32-x64', 'bin', 'kest-font-preview-renderer.exe')],
    [{ platform: 'linux', arch: 'x64', env: { KFP_RENDERER: '/opt/r' }, resolve }, '/opt/r'],
  ];
  for (const [options, expected] of cases) assert.equal(defaultRendererPath(options), expected);
  assert.match(defaultRendererPath({ platform: 'linux', arch: 'x64', env: {}, resolve: missing }), /[/\\]build[/\\]release[/\\]kest-font-preview-renderer$/);
});
