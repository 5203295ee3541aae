// Shared by the tests: the renderer under test, installed fonts, process checks.
import { execFileSync } from 'node:child_process';
import { readdirSync } from 'node:fs';
import { fileURLToPath } from 'node:url';

import { defaultRendererPath } from '../index.js';

export const rendererPath = defaultRendererPath();
export const fakeRendererPath = fileURLToPath(new URL('./fixtures/fake_renderer.js', import.meta.url));

// One descriptor per installed scalable face, by PostScript name.
export function installedFonts(limit = Infinity) {
  const out = execFileSync('fc-list', ['--format', '%{postscriptname}\t%{family[0]}\t%{style[0]}\n', ':scalable=true'], { encoding: 'utf8' });
  const seen = new Set();
  const fonts = [];
  for (const line of out.split('\n').sort()) {
    const [postScriptName, familyName, styleName] = line.split('\t');
    if (!postScriptName || seen.has(postScriptName)) continue;
    seen.add(postScriptName);
    fonts.push({ fontId: postScriptName, postScriptName, familyName, styleName });
  }
  return fonts.slice(0, limit);
}

export const alive = (pid) => {
  try {
    process.kill(pid, 0);
    return true;
  } catch {
    return false;
  }
};

export const openDescriptors = () => readdirSync('/proc/self/fd').length;

export const inked = (bitmap) => bitmap.some((byte) => byte !== 0);

export const untilTrue = async (check, ms = 10000) => {
  const end = Date.now() + ms;
  while (!check()) {
    if (Date.now() > end) throw new Error('condition not reached in time');
    await new Promise((resolve) => setTimeout(resolve, 10));
  }
};
