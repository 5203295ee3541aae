// The installed fonts as the renderer lists them, with what fontconfig and the files add: what
// each face covers, serif or sans, colour.
import { execFileSync } from 'node:child_process';
import { closeSync, openSync, readSync } from 'node:fs';

import { listInstalledFonts as listRendererFonts } from '../../clients/node/index.js';
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


// fontconfig's facts about each face it lists: names to match on, then file, colour, spacing and
// charset. A variable font's own pattern has no style and stands for no face; it only marks its
// file variable.
export function fontconfigFaces({ env = process.env } = {}) {
  const out = execFileSync('fc-list', ['--format', fontListFormat], {
    encoding: 'utf8',
    maxBuffer: 512 * 1024 * 1024,
    env,
  });
  const faces = [];
  const variableFiles = new Set();
  for (const [family = '', style = '', fullName = '', postScriptName = '', file = '', index = '0', variable = '', color = '', spacing = '', charset = ''] of parseFontList(out)) {
    if (variable === 'True') variableFiles.add(file);
    if (!family || !style) continue;
    faces.push({ family, style, fullName, postScriptName, file, index: Number(index) || 0, color: color === 'True', spacing: Number(spacing) || 0, charset });
  }
  for (const face of faces) face.variable = variableFiles.has(face.file);
  return faces;
}

// "ExtraLight Italic" and "Extra Light Italic" name the same style.
const loose = (name) => name.replace(/[\s_-]+/g, '').toLowerCase();

// The fontconfig face for each descriptor, or null: by PostScript name, else by full name, else by
// family and style. Several candidates (the same face installed twice, or fontconfig giving a
// variable font's instances one name) are narrowed to the one of the same style.
export function matchFontconfig(descriptors, faces) {
  const index = (key) => {
    const map = new Map();
    for (const face of faces) {
      const k = key(face);
      if (!k) continue;
      if (!map.has(k)) map.set(k, []);
      map.get(k).push(face);
    }
    return map;
  };
  const byPostScript = index((f) => f.postScriptName);
  const byFullName = index((f) => f.fullName);
  const byStyle = index((f) => `${loose(f.family)}\t${loose(f.style)}`);
  return descriptors.map((d) => {
    const family = d.familyName || d.nativeFamilyName || '';
    const style = d.styleName || d.nativeStyleName || '';
    const candidates =
      (d.postScriptName && byPostScript.get(d.postScriptName)) ||
      (d.fullName && byFullName.get(d.fullName)) ||
      (d.nativeFullName && byFullName.get(d.nativeFullName)) ||
      byStyle.get(`${loose(family)}\t${loose(style)}`);
    if (!candidates) return null;
    return candidates.find((f) => loose(f.style) === loose(style) && loose(f.family) === loose(family)) ?? candidates.find((f) => loose(f.style) === loose(style)) ?? candidates[0];
  });
}

// The renderer's faces for the page: [{ descriptor, family, style, fullName, postScriptName, file,
// ranges, sample, scripts, kinds, axes }], sorted by family and style, ids "f0"... A face
// fontconfig does not know has no file and null ranges: its coverage is unknown.
export function describeFonts(descriptors, faces) {
  const matches = matchFontconfig(descriptors, faces);
  const tables = new FontFiles();
  const fonts = descriptors.map((d, i) => {
    const face = matches[i];
    const family = d.familyName || d.nativeFamilyName || '';
    const style = d.styleName || d.nativeStyleName || '';
    const designAxes = d.designAxesData ?? [];
    const axes = designAxes.map((axis, a) => ({ tag: axis.tag, name: kAxisNames[axis.tag] ?? axis.tag, min: axis.min, default: d.designVector[a], max: axis.max }));
    const ranges = face ? parseCharset(face.charset) : null;
    const meta = face ? tables.read(face.file, face.index) : undefined;
    return {
      descriptor: d,
      family,
      style,
      fullName: d.fullName || d.nativeFullName || '',
      postScriptName: d.postScriptName ?? '',
      file: face?.file ?? '',
      ranges,
      sample: ranges ? sampleFor(ranges) : { script: samples[0][0], text: samples[0][1] },
      scripts: ranges ? samples.filter(([, text]) => covers(ranges, text)).map(([script]) => script) : [],
      kinds: kindsOf({ family, spacing: face?.spacing, color: face?.color }, meta, axes.length > 0 || Boolean(face?.variable)),
      axes,
    };
  });
  // A stable sort: a face installed twice keeps the renderer's order.
  fonts.sort((a, b) => a.family.localeCompare(b.family) || a.style.localeCompare(b.style));
  return fonts.map((font, i) => ({ ...font, descriptor: { ...font.descriptor, fontId: `f${i}` } }));
}

// The faces the renderer itself resolves, described with what fontconfig knows of them.
export async function listInstalledFonts({ rendererPath, env = process.env, fontconfig = fontconfigFaces } = {}) {
  const descriptors = await listRendererFonts(rendererPath ? { rendererPath } : {});
  return describeFonts(descriptors, fontconfig({ env }));
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

// Reads the OS/2 class and PANOSE straight from the font files, once per file and face.
class FontFiles {
  #cache = new Map();

  read(file, index) {
    const key = `${file}\n${index}`;
    if (!this.#cache.has(key)) {
      let meta = { familyClass: 0, panose: [] };
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
    const meta = { familyClass: 0, panose: [] };
    if (tables.has('OS/2') && tables.get('OS/2')[1] >= 42) {
      const os2 = read(tables.get('OS/2')[0], 42);
      meta.familyClass = os2.readInt16BE(30);
      meta.panose = [...os2.subarray(32, 42)];
    }
    return meta;
  } finally {
    closeSync(fd);
  }
}
