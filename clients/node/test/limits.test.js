// Font ids whose JSON escapes cost the most, near the renderer's 8 MiB reply limit: the split of a
// font list must give groups whose request can be sent and whose MeasureResult is not dropped.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { PreviewService, Renderer } from '../index.js';
import { splitFontIds } from '../src/requests.js';
import { rendererPath } from './helpers.js';

const kLimit = 8 * 1024 * 1024;

test('groups of costly ids are answered whole, and fill most of a reply', { timeout: 120000 }, async (t) => {
  const renderer = await Renderer.start({ rendererPath });
  t.after(() => renderer.shutdown());
  let generation = 0;
  const cases = [
    // Bytes per UTF-16 unit in the JSON: \u0001 6 (the most there is), \n and \" 2, 中 3, 😀 2,
    // a 1. Only at 6 a unit is the bound tight, and the reply nearly full.
    ['control characters', '\u0001'.repeat(1000), 2000, '', true],
    ['newlines and quotes', '\n"'.repeat(500), 6000, '', false],
    ['CJK', '中'.repeat(1000), 4000, '', false],
    ['astral', '😀'.repeat(500), 6000, '', false],
    ['a control-character layout key of 6 MB', '\u0003'.repeat(1000), 1000, '\u0002'.repeat(1000000), true],
  ];
  for (const [name, id, count, layoutKey, full] of cases) {
    await t.test(name, async () => {
      const ids = new Array(count).fill(id);
      const groups = splitFontIds(ids, layoutKey);
      assert.ok(groups.length >= 2, 'the list needs more than one reply');
      assert.equal(groups.flat().length, count);
      for (const group of groups) {
        const m = await renderer.measure({ generation: ++generation, text: 'a', layoutKey, fontIds: group });
        assert.equal(m.items.length, group.length);
        assert.ok(m.items.every((item) => item.fontId === id && item.error === 'FONT_NOT_REGISTERED'));
      }
      if (!full) return;
      const first = await renderer.measure({ generation: ++generation, text: 'a', layoutKey, fontIds: groups[0] });
      const bytes = Buffer.byteLength(JSON.stringify(first));
      assert.ok(bytes > 0.75 * kLimit && bytes <= kLimit, `first reply ${bytes} bytes`);
    });
  }
});

test('the service answers every control-character id of a list past the reply limit', { timeout: 120000 }, async (t) => {
  const service = new PreviewService({ rendererPath, workers: 2 });
  t.after(() => service.close());
  await service.setFonts([{ fontId: 'sans', familyName: 'DejaVu Sans' }]);
  const id = '\u001f'.repeat(1000);
  const fontIds = [...new Array(1500).fill(id), 'sans', ...new Array(1500).fill(id)];
  const m = await service.measure({ text: 'a', fontIds });
  assert.equal(m.items.length, fontIds.length);
  assert.deepEqual(m.items.map((item, i) => (item.fontId === fontIds[i] ? item.error ?? 'ok' : 'wrong font')).filter((e) => e !== 'FONT_NOT_REGISTERED'), ['ok']);
});
