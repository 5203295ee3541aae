// Previews per second for every installed font (not a test): the package's PreviewService with
// one worker and with one per core, beside baselines measured in the same run: the bare protocol
// through one Renderer (one Render frame for all fonts) and, when it is built, the C++ preview
// service on the same installed fonts (bench/preview_service_bench).
//
//   node bench/previews.js [seconds per figure, default 2]

import { execFileSync } from 'node:child_process';
import { existsSync } from 'node:fs';
import os from 'node:os';
import { fileURLToPath } from 'node:url';

import { PreviewService, Renderer } from '../index.js';

const seconds = Number(process.argv[2] ?? 2);
const layout = { text: 'The quick brown fox jumps over the lazy dog 0123456789', fontSize: 28, width: 300, dpiScale: 1 };
const cores = os.availableParallelism?.() ?? os.cpus().length;

// One descriptor per installed scalable face, as kfp-preview lists them.
function installedFonts() {
  const out = execFileSync('fc-list', ['--format', '%{family[0]}\t%{style[0]}\t%{fullname[0]}\t%{postscriptname}\n', ':scalable=true'], { encoding: 'utf8' });
  const seen = new Set();
  const fonts = [];
  for (const line of out.split('\n')) {
    const [familyName, styleName, fullName, postScriptName] = line.split('\t');
    const key = postScriptName || fullName;
    if (!familyName || seen.has(key)) continue;
    seen.add(key);
    fonts.push({ fontId: `f${fonts.length}`, familyName, styleName, fullName, postScriptName });
  }
  return fonts;
}

// Repeats `pass` (all fonts once) for `seconds` after one warm pass; previews per second.
async function rate(fontCount, pass) {
  await pass();
  let passes = 0;
  const start = process.hrtime.bigint();
  let elapsed = 0;
  do {
    await pass();
    passes++;
    elapsed = Number(process.hrtime.bigint() - start) / 1e9;
  } while (elapsed < seconds);
  return (passes * fontCount) / elapsed;
}

const fonts = installedFonts();
const fontIds = fonts.map((f) => f.fontId);
const figures = new Map(); // name -> best rate over the rounds

// Rounds alternate the configurations, so a burst of load elsewhere does not favour one of them.
for (let round = 0; round < 2; round++) {
  const renderer = await Renderer.start();
  await renderer.registerFontsChunked(fonts);
  let generation = 0;
  const bare = await rate(fonts.length, async () => {
    let n = 0;
    for await (const r of renderer.render({ ...layout, generation: ++generation, fontIds })) n += r.resolved ? 1 : 0;
    if (!n) throw new Error('nothing rendered');
  });
  figures.set('bare protocol, 1 renderer', Math.max(bare, figures.get('bare protocol, 1 renderer') ?? 0));
  await renderer.shutdown();

  for (const workers of [...new Set([1, cores])]) {
    const service = new PreviewService({ workers });
    await service.setFonts(fonts);
    const name = `PreviewService, ${workers} worker${workers > 1 ? 's' : ''}`;
    const value = await rate(fonts.length, async () => {
      for await (const r of service.render({ ...layout, fontIds })) if (!r.fontId) throw new Error('no font id');
    });
    figures.set(name, Math.max(value, figures.get(name) ?? 0));
    await service.close();
  }
}

const base = figures.get('bare protocol, 1 renderer');
console.log(`${fonts.length} fonts, "${layout.text}", size ${layout.fontSize}, width ${layout.width}; ${cores} cores`);
console.log(`${'previews per second'.padEnd(32)} ${'rate'.padStart(9)} ${'vs bare'.padStart(8)}`);
for (const [name, value] of figures) console.log(`${name.padEnd(32)} ${value.toFixed(0).padStart(9)} ${(value / base).toFixed(2).padStart(7)}x`);

const cppBench = fileURLToPath(new URL('../../../build/release/preview_service_bench', import.meta.url));
if (existsSync(cppBench)) {
  const out = execFileSync(cppBench, { encoding: 'utf8' });
  for (const [, workers, value] of out.matchAll(/preview service, (\d+) renderers?:\s+([\d.]+)/g)) {
    const node = figures.get(`PreviewService, ${workers} worker${workers > 1 ? 's' : ''}`);
    const cpp = Number(value);
    const name = `C++ PreviewService, ${workers} worker${workers > 1 ? 's' : ''}`;
    console.log(`${name.padEnd(32)} ${cpp.toFixed(0).padStart(9)} ${(cpp / base).toFixed(2).padStart(7)}x  (Node at ${node ? ((node / cpp) * 100).toFixed(0) : '?'} % of it)`);
  }
}
