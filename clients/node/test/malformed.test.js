// A renderer that writes bad frames: every owed reply fails with a clear error, and the process is
// not left running.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { PreviewService, ProtocolError, Renderer } from '../index.js';
import { alive, fakeRendererPath } from './helpers.js';

test('malformed replies reject the owed request and end the renderer', { timeout: 60000 }, async (t) => {
  const cases = [
    ['frame-length', /frame length 3/],
    ['json-length', /JSON length 6/],
    ['bad-json', /does not parse/],
    ['json-array', /not an object/],
    ['wrong-reply', /expected helloAck, got fontsRegistered/],
    ['unknown-type', /expected helloAck, got type 99/],
    ['truncated', /ended inside a frame/],
  ];
  for (const [mode, message] of cases) {
    await t.test(mode, async () => {
      const renderer = new Renderer({ rendererPath: fakeRendererPath, args: [mode] });
      await assert.rejects(renderer.hello(), (e) => e instanceof ProtocolError && e.code === 'MALFORMED_REPLY' && message.test(e.message));
      await renderer.exited;
      assert.equal(alive(renderer.pid), false);
      assert.equal(renderer.running, false);
    });
  }
});

test('a reply nobody asked for is malformed, even after a good one', { timeout: 60000 }, async () => {
  const renderer = new Renderer({ rendererPath: fakeRendererPath, args: ['unsolicited'] });
  await renderer.hello();
  const exit = await renderer.exited;
  assert.equal(exit.signal, 'SIGKILL');
  await assert.rejects(renderer.ping(), (e) => e.code === 'MALFORMED_REPLY' && /expected no reply, got pong/.test(e.message));
});

test('a RenderResult for another font or with a wrong payload size is rejected', { timeout: 60000 }, async (t) => {
  for (const [mode, message] of [
    ['wrong-font', /RenderResult for "ax", expected "a"/],
    ['payload-size', /1x1 stride 1 with 2 payload bytes/],
  ]) {
    await t.test(mode, async () => {
      const renderer = await Renderer.start({ rendererPath: fakeRendererPath, args: [mode] });
      await assert.rejects(renderer.renderAll({ generation: 1, fontIds: ['a'] }), (e) => e.code === 'MALFORMED_REPLY' && message.test(e.message));
      await renderer.exited;
    });
  }
});

test('the service restarts a killed worker and reports a font that kills it twice as failed', { timeout: 60000 }, async () => {
  const service = new PreviewService({ rendererPath: fakeRendererPath, args: ['poison=bad'], workers: 1 });
  const restarts = [];
  service.on('restart', (e) => restarts.push(e.signal));
  await service.setFonts([{ fontId: 'a' }, { fontId: 'bad' }, { fontId: 'c' }]);
  const results = await service.renderAll({ text: 'x', fontIds: ['a', 'bad', 'c', 'a'] });
  assert.deepEqual(
    results.map((r) => [r.fontId, r.resolved, r.error]),
    [
      ['a', true, undefined],
      ['bad', false, 'RENDERER_CRASHED'],
      ['c', true, undefined],
      ['a', true, undefined],
    ],
  );
  assert.deepEqual(restarts, ['SIGKILL', 'SIGKILL']);
  await service.close();
});
