// The installed fonts, asked of fontconfig once: descriptors to register, and what each covers.
import { execFileSync } from 'node:child_process';

import { parseCharset, sampleFor } from './samples.js';

const kFormat = '%{family[0]}\\t%{style[0]}\\t%{fullname[0]}\\t%{postscriptname}\\t%{charset}\\n';

// [{ descriptor, family, style, ranges, sample }], sorted by family and style, ids "f0"...
export function listInstalledFonts() {
  const out = execFileSync('fc-list', ['--format', kFormat.replaceAll('\\t', '\t').replaceAll('\\n', '\n')], {
    encoding: 'utf8',
    maxBuffer: 256 * 1024 * 1024,
  });
  const byFace = new Map();
  for (const line of out.split('\n')) {
    const [family, style = '', fullName = '', postScriptName = '', charset = ''] = line.split('\t');
    // A variable font's own pattern has no style; its named instances are listed on their own.
    if (!family || !style) continue;
    const key = `${family}\t${style}`;
    if (!byFace.has(key)) byFace.set(key, { family, style, fullName, postScriptName, charset });
  }
  const faces = [...byFace.values()].sort((a, b) => a.family.localeCompare(b.family) || a.style.localeCompare(b.style));
  return faces.map((face, i) => {
    const ranges = parseCharset(face.charset);
    return {
      descriptor: {
        fontId: `f${i}`,
        familyName: face.family,
        styleName: face.style,
        fullName: face.fullName,
        postScriptName: face.postScriptName,
      },
      family: face.family,
      style: face.style,
      ranges,
      sample: sampleFor(ranges),
    };
  });
}
