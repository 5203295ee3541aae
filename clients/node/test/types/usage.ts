// Compiled, never run, by types.test.js: what a host written against index.d.ts may and may not do.
// Each @ts-expect-error is a mistake the declarations must catch.
import { spawn } from 'node:child_process';

import {
  a8ToRgba,
  PreviewService,
  Renderer,
  type ErrorCode,
  type MeasureItem,
  type RenderResult,
  type ServiceFontErrorCode,
} from '../../index.js';

export async function host(): Promise<void> {
  await using service = new PreviewService({ workers: 1, spawn: (file, args, options) => spawn(file, args, options) });
  await service.setFonts([{ fontId: 'sans', familyName: 'DejaVu Sans' }]);
  for await (const r of service.render({ text: 'a', fontIds: ['sans'] })) {
    // @ts-expect-error a result may have failed: no bitmap before narrowing
    r.bitmap.length;
    if (r.resolved) {
      const rows: number = r.bitmap.length / r.stride;
      const image = a8ToRgba(r, [0, 0, 0]);
      new ImageData(image.data, image.width, image.height);
      void rows;
    } else {
      const code: ServiceFontErrorCode = r.error;
      // @ts-expect-error a failed result has no bitmap
      r.bitmap;
      void code;
    }
  }
  const failed: RenderResult = { requestId: 0, generation: 1, layoutKey: '', fontId: 'x', resolved: false, error: 'RENDERER_CRASHED' };
  // @ts-expect-error a8ToRgba takes only a resolved result
  a8ToRgba(failed);
  // @ts-expect-error codes are a closed set
  const wrong: ServiceFontErrorCode = 'NO_SUCH_CODE';
  void wrong;

  const m = await service.measure({ fontIds: ['sans'] });
  const item: MeasureItem = m.items[0];
  // @ts-expect-error a height only on a resolved item
  item.height.toFixed();
  if (item.resolved) item.height.toFixed();
  // @ts-expect-error fontIds is required
  await service.measure({ text: 'a' });

  try {
    await service.renderAll({ text: 'a', fontIds: [] });
  } catch (error) {
    const code = (error as { code: ErrorCode }).code;
    if (code === 'INVALID_TEXT' || code === 'SERVICE_CLOSED' || code === 'RENDERER_EXITED') return;
    // @ts-expect-error not a code of the package
    if (code === 'EPIPE') return;
  }

  await using renderer = await Renderer.start();
  const count: number = await renderer.setFonts([{ fontId: 'a' }]);
  void count;
}
