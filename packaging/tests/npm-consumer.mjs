// Run inside an empty project where only the packed tarballs were installed: renders a preview
// without being told where the renderer is, and prints what it found.
import assert from 'node:assert/strict';
import { realpathSync } from 'node:fs';

import { defaultRendererPath, listInstalledFonts, PreviewService } from 'kest-font-preview';

// The binary comes from the platform package npm picked, not from any environment setting.
assert.equal(process.env.KFP_RENDERER, undefined);
const renderer = realpathSync(defaultRendererPath());
assert.match(renderer, /node_modules[/\\]@kest-font-preview[/\\]linux-x64[/\\]bin[/\\]kest-font-preview-renderer$/);

const fonts = await listInstalledFonts();
const dejavu = fonts.find((font) => font.familyName === 'DejaVu Sans');
assert.ok(dejavu, `DejaVu Sans is not among ${fonts.length} listed fonts`);

const service = new PreviewService({ workers: 1 });
try {
  await service.setFonts([{ ...dejavu, fontId: 'sample' }]);
  const [result] = await service.renderAll({ text: 'Hamburgefonstiv', fontIds: ['sample'] });
  assert.ok(result.resolved, result.error);
  const ink = result.bitmap.filter((alpha) => alpha !== 0).length;
  assert.ok(ink > 0, 'the preview has no ink');
  console.log(`${dejavu.fullName}: ${result.width}x${result.height}, ${ink} inked pixels, renderer ${renderer}`);
} finally {
  await service.close();
}
