// The fonts a renderer can resolve, as it lists them itself: `--list-fonts` prints one descriptor
// per line from the renderer's own font index.

import { execFile as execFileCallback } from 'node:child_process';

import { invalid, ProtocolError, RendererExitError } from './errors.js';
import { defaultRendererPath } from './renderer.js';

// A large library lists tens of thousands of faces at a few hundred bytes each.
const kMaxListBytes = 256 * 1024 * 1024;

// One line of the listing as a descriptor without a fontId; null when it is not one.
export function parseInstalledFontLine(line) {
  let font;
  try {
    font = JSON.parse(line);
  } catch {
    return null;
  }
  if (font === null || typeof font !== 'object' || Array.isArray(font) || typeof font.familyName !== 'string') return null;
  const axes = font.designAxesData ?? [];
  const values = font.designVector ?? [];
  if (!Array.isArray(axes) || !Array.isArray(values) || axes.length !== values.length) return null;
  return font;
}

export function listInstalledFonts({ rendererPath = defaultRendererPath(), timeout = 60000, execFile = execFileCallback } = {}) {
  if (typeof rendererPath !== 'string' || !rendererPath) throw invalid(TypeError, 'INVALID_OPTION', 'rendererPath must be a non-empty string');
  return new Promise((resolve, reject) => {
    const options = { encoding: 'utf8', maxBuffer: kMaxListBytes, timeout, windowsHide: true };
    execFile(rendererPath, ['--list-fonts'], options, (error, stdout) => {
      if (error) {
        const exitCode = typeof error.code === 'number' ? error.code : null;
        reject(new RendererExitError(exitCode, error.signal ?? null, `${rendererPath} --list-fonts failed: ${error.message}`));
        return;
      }
      const fonts = [];
      const lines = stdout.split('\n');
      for (let i = 0; i < lines.length; i++) {
        if (lines[i] === '') continue;
        const font = parseInstalledFontLine(lines[i]);
        if (!font) {
          reject(new ProtocolError(`line ${i + 1} of the font list is not a descriptor`));
          return;
        }
        fonts.push(font);
      }
      resolve(fonts);
    });
  });
}
