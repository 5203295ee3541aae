// The installed fonts, asked of fontconfig once: descriptors to register, what each covers, and
// what the files say about themselves (variation axes, serif or sans, colour).
import { execFileSync } from 'node:child_process';
import { closeSync, openSync, readSync } from 'node:fs';

import { covers, parseCharset, sampleFor, samples } from './samples.js';

// Every field escaped, so a tab or newline inside a name cannot split a field or a record.
const kFields = ['family[0]', 'style[0]', 'fullname[0]', 'postscriptname', 'file', 'index', 'variable', 'color', 'spacing', 'charset'];
export const fontListFormat = kFields.map((f) => `%{${f}|escape(\\\\\\t\\n)}`).join('\\t') + '\\n';

// fc-list output in that format: one array of unescaped fields per face.
export function parseFontList(out) {
  const records = [];
  let fields = [];
  let field = '';
  for (let i = 0; i < out.length; i++) {
    const c = out[i];
    if (c === '\\' && i + 1 < out.length) field += out[++i];
    else if (c === '\t') {
      fields.push(field);
      field = '';
    } else if (c === '\n') {
      fields.push(field);
      records.push(fields);
      fields = [];
      field = '';
    } else field += c;
  }
  if (field || fields.length) records.push([...fields, field]);
  return records;
}


// [{ descriptor, family, style, ranges, sample, file, index, scripts, kinds, axes }], sorted by
// family and style, ids "f0"...
export function listInstalledFonts({ env = process.env } = {}) {
  const out = execFileSync('fc-list', ['--format', fontListFormat], {
    encoding: 'utf8',
    maxBuffer: 512 * 1024 * 1024,
    env,
  });
  const byFace = new Map();
  const variableFiles = new Set();
  for (const [family = '', style = '', fullName = '', postScriptName = '', file = '', index = '0', variable = '', color = '', spacing = '', charset = ''] of parseFontList(out)) {
    if (variable === 'True') variableFiles.add(file);
    // A variable font's own pattern has no style; its named instances are listed on their own.
    if (!family || !style) continue;
    const key = `${family}\t${style}`;
    if (!byFace.has(key)) byFace.set(key, { family, style, fullName, postScriptName, file, index: Number(index) || 0, color: color === 'True', spacing: Number(spacing) || 0, charset });
  }
  const faces = [...byFace.values()].sort((a, b) => a.family.localeCompare(b.family) || a.style.localeCompare(b.style));
  const tables = new FontFiles();
  return faces.map((face, i) => {
    const ranges = parseCharset(face.charset);
    const meta = tables.read(face.file, face.index);
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
      fullName: face.fullName,
      postScriptName: face.postScriptName,
      file: face.file,
      ranges,
      sample: sampleFor(ranges),
      scripts: samples.filter(([, text]) => covers(ranges, text)).map(([script]) => script),
      kinds: kindsOf(face, meta, variableFiles.has(face.file) || meta.axes.length > 0),
      axes: meta.axes,
    };
  });
}

// Classification as the fonts state it: the OS/2 family class and PANOSE, fontconfig's spacing,
// and failing those the words of the family name.
export function kindsOf({ family = '', spacing = 0, color = false }, { familyClass = 0, panose = [] } = {}, variable = false) {
  const kinds = new Set();
  const classHigh = familyClass >> 8;
  if ([1, 2, 3, 4, 5, 7].includes(classHigh)) kinds.add('serif');
  else if (classHigh === 8) kinds.add('sans');
  else if (classHigh === 9) kinds.add('display');
  else if (classHigh === 10) kinds.add('handwriting');
  const [panoseFamily, serifStyle, , proportion] = panose;
  if (panoseFamily === 2) {
    if (serifStyle >= 2 && serifStyle <= 10) kinds.add('serif');
    else if (serifStyle >= 11 && serifStyle <= 13) kinds.add('sans');
    if (proportion === 9) kinds.add('mono');
  } else if (panoseFamily === 3) kinds.add('handwriting');
  else if (panoseFamily === 4) kinds.add('display');
  if (spacing === 100 || spacing === 90) kinds.add('mono');
  if (kinds.has('serif') && kinds.has('sans')) kinds.delete(classHigh === 8 ? 'serif' : 'sans');
  if (!kinds.has('serif') && !kinds.has('sans')) {
    if (/\bsans\b/i.test(family)) kinds.add('sans');
    else if (/\bserif\b/i.test(family)) kinds.add('serif');
  }
  if (/\bmono\b/i.test(family)) kinds.add('mono');
  if (color) kinds.add('color');
  if (variable) kinds.add('variable');
  return [...kinds];
}

const kAxisNames = { wght: 'Weight', wdth: 'Width', opsz: 'Optical size', ital: 'Italic', slnt: 'Slant' };

// Reads the few tables the page needs straight from the font files, once per file and face.
class FontFiles {
  #cache = new Map();

  read(file, index) {
    const key = `${file}\n${index}`;
    if (!this.#cache.has(key)) {
      let meta = { axes: [], familyClass: 0, panose: [] };
      try {
        meta = readFaceTables(file, index);
      } catch {
        // unreadable or not an sfnt: nothing beyond what fontconfig said
      }
      this.#cache.set(key, meta);
    }
    return this.#cache.get(key);
  }
}

function readFaceTables(file, index) {
  const fd = openSync(file, 'r');
  try {
    const read = (offset, length) => {
      const buffer = Buffer.alloc(length);
      const n = readSync(fd, buffer, 0, length, offset);
      if (n < length) throw new RangeError('short read');
      return buffer;
    };
    let base = 0;
    if (read(0, 4).toString('latin1') === 'ttcf') base = read(12 + 4 * (index & 0xffff), 4).readUInt32BE(0);
    const tableCount = read(base + 4, 2).readUInt16BE(0);
    const directory = read(base + 12, 16 * tableCount);
    const tables = new Map();
    for (let t = 0; t < tableCount; t++) {
      tables.set(directory.toString('latin1', t * 16, t * 16 + 4), [directory.readUInt32BE(t * 16 + 8), directory.readUInt32BE(t * 16 + 12)]);
    }
    const meta = { axes: [], familyClass: 0, panose: [] };
    if (tables.has('OS/2') && tables.get('OS/2')[1] >= 42) {
      const os2 = read(tables.get('OS/2')[0], 42);
      meta.familyClass = os2.readInt16BE(30);
      meta.panose = [...os2.subarray(32, 42)];
    }
    if (tables.has('fvar')) {
      const [offset, length] = tables.get('fvar');
      const fvar = read(offset, Math.min(length, 1 << 20));
      const axesAt = fvar.readUInt16BE(4);
      const axisCount = fvar.readUInt16BE(8);
      const axisSize = fvar.readUInt16BE(10);
      const instanceCount = fvar.readUInt16BE(12);
      const instanceSize = fvar.readUInt16BE(14);
      const fixed = (at) => Math.round((fvar.readInt32BE(at) / 65536) * 1000) / 1000;
      for (let a = 0; a < axisCount; a++) {
        const at = axesAt + a * axisSize;
        const tag = fvar.toString('latin1', at, at + 4);
        meta.axes.push({ tag, name: kAxisNames[tag] ?? tag, min: fixed(at + 4), default: fixed(at + 8), max: fixed(at + 12) });
      }
      // A named instance (fontconfig's index above 0xffff) starts at its own coordinates.
      const instance = (index >> 16) - 1;
      if (instance >= 0 && instance < instanceCount) {
        const at = axesAt + axisCount * axisSize + instance * instanceSize + 4;
        meta.axes.forEach((axis, a) => (axis.default = fixed(at + 4 * a)));
      }
    }
    return meta;
  } finally {
    closeSync(fd);
  }
}
