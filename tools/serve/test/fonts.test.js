// The font listing: the renderer's faces, fontconfig's facts matched to them, fontconfig's output
// read back field for field whatever the names hold, and the classification the page filters on.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { existsSync } from 'node:fs';
import { test } from 'node:test';

import { listInstalledFonts as listRendererFonts } from '../../../clients/node/index.js';
import { describeFonts, fontconfigFaces, fontListFormat, kindsOf, listInstalledFonts, parseFontList } from '../fonts.js';
import { startServer } from '../server.js';

test('names with tabs, newlines and backslashes survive the listing', { timeout: 60000 }, async (t) => {
  const cases = [
    ['tab and newline', 'ae', '\\t\\n', 'D\nj\tVu S\tns'],
    ['backslash', 'a', '\\\\', 'Dej\\Vu S\\ns'],
    ['tab before a backslash', 'aj', '\\\\\\t', 'De\t\\Vu S\\ns'],
  ];
  for (const [name, from, to, family] of cases) {
    await t.test(name, () => {
      // fontconfig itself puts the characters into the family name, before the escaping.
      const format = fontListFormat.replace('%{family[0]|', `%{family[0]|translate(${from},${to})|`);
      const out = execFileSync('fc-list', ['--format', format, ':fullname=DejaVu Sans'], { encoding: 'utf8' });
      const records = parseFontList(out);
      assert.equal(records.length, 1);
      const [gotFamily, style, fullName, postScriptName, file, index, , , , charset] = records[0];
      assert.deepEqual([gotFamily, style, fullName, postScriptName, index], [family, 'Book', 'DejaVu Sans', 'DejaVuSans', '0']);
      assert.match(file, /DejaVuSans\.ttf$/);
      assert.match(charset, /^20-7e /);
    });
  }
  await t.test('a trailing record without its newline', () => {
    assert.deepEqual(parseFontList('a\\\tb\tc\nd\te'), [['a\tb', 'c'], ['d', 'e']]);
  });
});

test('kinds come from the OS/2 class, PANOSE, spacing, then the name', { timeout: 60000 }, async (t) => {
  const panose = (family, serif, proportion = 0) => [family, serif, 0, proportion, 0, 0, 0, 0, 0, 0];
  const cases = [
    ['OS/2 transitional serif', { family: 'X' }, { familyClass: 0x0201 }, ['serif']],
    ['OS/2 sans', { family: 'X Serif' }, { familyClass: 0x0801 }, ['sans']],
    ['OS/2 ornamental', { family: 'X' }, { familyClass: 0x0900 }, ['display']],
    ['OS/2 script', { family: 'X' }, { familyClass: 0x0a01 }, ['handwriting']],
    ['PANOSE cove serif', { family: 'X' }, { panose: panose(2, 2) }, ['serif']],
    ['PANOSE normal sans, monospaced', { family: 'X' }, { panose: panose(2, 11, 9) }, ['sans', 'mono']],
    ['PANOSE hand-written', { family: 'X' }, { panose: panose(3, 0) }, ['handwriting']],
    ['PANOSE decorative', { family: 'X' }, { panose: panose(4, 0) }, ['display']],
    ['class and PANOSE disagree: the class wins', { family: 'X' }, { familyClass: 0x0800, panose: panose(2, 3) }, ['sans']],
    ['fontconfig mono spacing', { family: 'X', spacing: 100 }, {}, ['mono']],
    ['nothing stated: the name', { family: 'Noto Sans Mono' }, {}, ['sans', 'mono']],
    ['nothing stated, nothing named', { family: 'Gothic' }, {}, []],
    ['colour', { family: 'Emoji', color: true }, {}, ['color']],
  ];
  for (const [name, face, meta, want] of cases) {
    await t.test(name, () => assert.deepEqual(kindsOf(face, meta).sort(), [...want].sort()));
  }
  await t.test('variable', () => assert.deepEqual(kindsOf({ family: 'X' }, {}, true), ['variable']));
});

test('installed fonts: axes of a variable font start at its named instance', { timeout: 60000, skip: !existsSync('/usr/share/fonts/truetype/inter-vf') && 'Inter is not installed' }, async () => {
  const fonts = await listInstalledFonts();
  const inter = (style) => fonts.find((f) => f.family === 'Inter' && f.style === style);
  const weight = (font) => font.axes.find((a) => a.tag === 'wght');
  assert.deepEqual([weight(inter('Thin')).default, weight(inter('Bold')).default], [100, 900 - 200]);
  assert.deepEqual([weight(inter('Bold')).min, weight(inter('Bold')).max], [100, 900]);
  assert.ok(inter('Bold').kinds.includes('variable'));
  const sans = fonts.find((f) => f.family === 'DejaVu Sans' && f.style === 'Regular');
  assert.deepEqual(sans.axes, []);
  assert.ok(sans.scripts.includes('Latin') && sans.scripts.includes('Greek') && !sans.scripts.includes('Devanagari'));
  const emoji = fonts.find((f) => f.family === 'Noto Color Emoji');
  if (emoji) assert.ok(emoji.kinds.includes('color') && emoji.scripts.includes('Emoji'));
});

const descriptor = (familyName, styleName, fullName, postScriptName, extra = {}) => ({
  familyName, nativeFamilyName: '', fullName, nativeFullName: '', styleName, nativeStyleName: '', postScriptName, designAxesData: [], designVector: [], ...extra,
});
const fcFace = (family, style, fullName, postScriptName, file, charset = '20-7e') => ({ family, style, fullName, postScriptName, file, index: 0, color: false, spacing: 0, charset, variable: false });

test('fontconfig facts join the renderer faces by PostScript name, full name, then family and style', { timeout: 60000 }, async (t) => {
  const faces = [
    fcFace('Alpha', 'Regular', 'Alpha', 'Alpha-Regular', '/x/alpha.ttf', '20-7e 391-3c9'),
    fcFace('Alpha', 'Regular', 'Alpha Regular', 'Other-PS', '/x/alpha-by-name.ttf'),
    fcFace('Beta', 'Bold', 'Beta', 'Beta-Shared', '/x/beta-roman.ttf'),
    fcFace('Beta', 'Bold Italic', 'Beta', 'Beta-Shared', '/x/beta-italic.ttf'),
    fcFace('Gamma', 'Regular', 'Gamma Book', 'Gamma-PS', '/x/gamma.ttf'),
    fcFace('Delta', 'Extra Light Italic', 'Delta', 'Delta-200', '/x/delta.ttf'),
    fcFace('Tab\tand\nnewline', 'Regular', 'Tab\tand\nnewline', 'TabPS', '/x/tab.ttf'),
  ];
  const cases = [
    ['PostScript name before full name', descriptor('Alpha', 'Regular', 'Alpha Regular', 'Alpha-Regular'), '/x/alpha.ttf'],
    ['full name when the PostScript name is unknown', descriptor('Alpha', 'Regular', 'Alpha Regular', 'Missing-PS'), '/x/alpha-by-name.ttf'],
    ['a shared PostScript name narrowed by style', descriptor('Beta', 'Bold Italic', '', 'Beta-Shared'), '/x/beta-italic.ttf'],
    ['native full name when there is no other', descriptor('Gamma', 'Book', '', '', { nativeFullName: 'Gamma Book' }), '/x/gamma.ttf'],
    ['family and style, spelt either way', descriptor('Delta', 'ExtraLight Italic', 'Delta ExtraLight Italic', ''), '/x/delta.ttf'],
    ['tab and newline in the names', descriptor('Tab\tand\nnewline', 'Regular', '', 'TabPS'), '/x/tab.ttf'],
    ['unknown to fontconfig', descriptor('Epsilon', 'Regular', 'Epsilon', 'Epsilon-PS'), ''],
  ];
  const fonts = describeFonts(cases.map(([, d]) => d), faces);
  assert.equal(fonts.length, cases.length);
  assert.equal(new Set(fonts.map((f) => f.descriptor.fontId)).size, cases.length);
  for (const [name, d, file] of cases) {
    await t.test(name, () => {
      const font = fonts.find((f) => f.family === d.familyName && f.postScriptName === d.postScriptName);
      const { fontId, ...registered } = font.descriptor;
      assert.deepEqual(registered, d, 'the renderer’s own descriptor is registered');
      assert.match(fontId, /^f\d+$/);
      assert.equal(font.file, file);
      if (file) {
        assert.ok(font.ranges.length > 0 && font.scripts.includes('Latin'));
      } else {
        assert.deepEqual([font.ranges, font.scripts, font.sample.script], [null, [], 'Latin']);
      }
    });
  }
  await t.test('axes start at the face’s own values', () => {
    const axes = { designAxesData: [{ tag: 'wght', min: 100, max: 900 }, { tag: 'XTRA', min: 0, max: 10 }], designVector: [700, 3] };
    const [font] = describeFonts([descriptor('Zeta', 'Bold', 'Zeta Bold', 'Zeta-Bold', axes)], []);
    assert.deepEqual(font.axes, [{ tag: 'wght', name: 'Weight', min: 100, default: 700, max: 900 }, { tag: 'XTRA', name: 'XTRA', min: 0, default: 3, max: 10 }]);
    assert.ok(font.kinds.includes('variable'));
  });
});

test('the page lists exactly the faces the renderer lists', { timeout: 60000 }, async () => {
  const own = await listRendererFonts();
  const fonts = await listInstalledFonts();
  assert.ok(own.length > 0);
  const key = (d) => JSON.stringify(d);
  const registered = fonts.map(({ descriptor: { fontId, ...d } }) => key(d)).sort();
  assert.deepEqual(registered, own.map(key).sort());
  const server = await startServer({ workers: 1 });
  try {
    const listed = await (await fetch(new URL('/fonts', server.url))).json();
    const names = (list) => list.map(([family, style]) => `${family}\t${style}`).sort();
    assert.equal(listed.length, own.length);
    assert.deepEqual(names(listed.map((f) => [f.family, f.style])), names(own.map((d) => [d.familyName || d.nativeFamilyName, d.styleName || d.nativeStyleName])));
  } finally {
    await server.close();
  }
});

test('a face fontconfig does not know is listed, drawn, and unknown to the coverage filter', { timeout: 60000 }, async () => {
  const hidden = (f) => f.family === 'DejaVu Sans' && f.style === 'Book';
  const known = fontconfigFaces();
  assert.ok(known.some(hidden), 'fontconfig lists DejaVu Sans Book');
  const own = await listRendererFonts();
  const fonts = await listInstalledFonts({ fontconfig: () => known.filter((f) => !hidden(f)) });
  assert.equal(fonts.length, own.length);
  const sans = fonts.find((f) => f.family === 'DejaVu Sans' && f.style === 'Regular');
  assert.deepEqual([sans.file, sans.ranges, sans.scripts], ['', null, []]);
  assert.ok(sans.kinds.includes('sans'), 'the name still says sans');
  const bold = fonts.find((f) => f.family === 'DejaVu Sans' && f.style === 'Bold');
  assert.ok(bold.ranges && bold.file.endsWith('DejaVuSans-Bold.ttf'));

  const server = await startServer({ workers: 1, fonts });
  try {
    const listed = await (await fetch(new URL('/fonts', server.url))).json();
    const index = listed.findIndex((f) => f.id === sans.descriptor.fontId);
    assert.ok(index >= 0);
    const coverage = await (await fetch(new URL('/coverage?text=Ok', server.url))).json();
    const bits = Buffer.from(coverage.bits, 'base64');
    const bit = (i) => (bits[i >> 3] >> (i & 7)) & 1;
    assert.equal(bit(index), 0);
    assert.equal(bit(listed.findIndex((f) => f.id === bold.descriptor.fontId)), 1);
    // Drawn with the typed text, as the renderer resolves it.
    const reply = Buffer.from(await (await fetch(new URL(`/render?session=u&version=1&text=Ok&ids=${sans.descriptor.fontId}`, server.url))).arrayBuffer());
    const json = JSON.parse(reply.subarray(4, 4 + reply.readUInt32LE(0)).toString());
    assert.deepEqual([json.fontId, json.text, json.sample, json.error], [sans.descriptor.fontId, 'Ok', '', undefined]);
    assert.ok(json.width > 0 && json.height > 0);
  } finally {
    await server.close();
  }
});
