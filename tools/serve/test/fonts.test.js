// The font listing: fontconfig's output read back field for field whatever the names hold, and
// the classification the page filters on.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { existsSync } from 'node:fs';
import { test } from 'node:test';

import { fontListFormat, kindsOf, listInstalledFonts, parseFontList } from '../fonts.js';

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

test('installed fonts: axes of a variable font start at its named instance', { timeout: 60000, skip: !existsSync('/usr/share/fonts/truetype/inter-vf') && 'Inter is not installed' }, () => {
  const fonts = listInstalledFonts();
  const inter = (style) => fonts.find((f) => f.family === 'Inter' && f.style === style);
  const weight = (font) => font.axes.find((a) => a.tag === 'wght');
  assert.deepEqual([weight(inter('Thin')).default, weight(inter('Bold')).default], [100, 900 - 200]);
  assert.deepEqual([weight(inter('Bold')).min, weight(inter('Bold')).max], [100, 900]);
  assert.ok(inter('Bold').kinds.includes('variable'));
  const sans = fonts.find((f) => f.family === 'DejaVu Sans' && f.style === 'Book');
  assert.deepEqual(sans.axes, []);
  assert.ok(sans.scripts.includes('Latin') && sans.scripts.includes('Greek') && !sans.scripts.includes('Devanagari'));
  const emoji = fonts.find((f) => f.family === 'Noto Color Emoji');
  if (emoji) assert.ok(emoji.kinds.includes('color') && emoji.scripts.includes('Emoji'));
});
