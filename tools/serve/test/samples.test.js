import assert from 'node:assert/strict';
import { test } from 'node:test';

import { covers, parseCharset, sampleFor, samples } from '../samples.js';

test('fontconfig charsets parse into sorted ranges', { timeout: 60000 }, () => {
  assert.deepEqual(parseCharset('a0 20-7e  100-17f\n'), [[0x20, 0x7e], [0xa0, 0xa0], [0x100, 0x17f]]);
  assert.deepEqual(parseCharset(''), []);
});

test('coverage of a text', { timeout: 60000 }, async (t) => {
  const latin = parseCharset('20-7e a0-17f');
  const cases = [
    ['ASCII', latin, 'Hello, world!', true],
    ['Latin Extended-A', latin, 'Łódź', true],
    ['blanks and joiners need no glyph', latin, 'a\u200db\tc\u00a0', true],
    ['Devanagari', latin, 'नमस्ते', false],
    ['one missing character', latin, 'fine €', false],
    ['astral plane', parseCharset('1f600-1f64f'), '😀🙏', true],
    ['empty text', [], '', true],
    ['emoji presentation selector needs no glyph', parseCharset('2764'), '\u2764\ufe0f', true],
    ['text presentation selector needs no glyph', latin, '\u00a9\ufe0e', true],
    ['skin-tone modifier needs no glyph', parseCharset('1f44d'), '\u{1f44d}\u{1f3fd}', true],
    ['ZWJ sequence needs only its parts', parseCharset('1f468 1f469 1f467'), '\u{1f468}\u200d\u{1f469}\u200d\u{1f467}', true],
    ['tag sequence needs only its base', parseCharset('1f3f4'), '\u{1f3f4}\u{e0067}\u{e0062}\u{e0073}\u{e0063}\u{e0074}\u{e007f}', true],
    ['ideographic variation selector', parseCharset('845b'), '\u845b\u{e0100}', true],
    ['word joiner and soft hyphen', latin, 'a\u2060b\u00adc', true],
    ['emoji mixed with letters, emoji missing', latin, 'I \u2764\ufe0f it', false],
    ['emoji mixed with letters, all there', parseCharset('20-7e 2764'), 'I \u2764\ufe0f it', true],
    ['a modifier alone does not make the base covered', parseCharset('1f3fb-1f3ff'), '\u{1f44d}\u{1f3fd}', false],
  ];
  for (const [name, ranges, text, want] of cases) {
    await t.test(name, () => assert.equal(covers(ranges, text), want));
  }
});

test('a font gets the first sample it covers, else its own characters', { timeout: 60000 }, async (t) => {
  const rangesOf = (text) => parseCharset([...new Set(text)].map((c) => c.codePointAt(0).toString(16)).join(' '));
  const cases = [
    ['Latin and Greek', rangesOf(samples[0][1] + samples[1][1]), 'Latin'],
    ['Greek only', rangesOf(samples[1][1]), 'Greek'],
    ['Devanagari', rangesOf('नमस्ते दुनिया'), 'Devanagari'],
    ['Tibetan', rangesOf('བཀྲ་ཤིས་བདེ་ལེགས།'), 'Tibetan'],
  ];
  for (const [name, ranges, script] of cases) {
    await t.test(name, () => {
      const sample = sampleFor(ranges);
      assert.equal(sample.script, script);
      assert.ok(covers(ranges, sample.text));
    });
  }
  await t.test('no sample covered: the font’s own characters, before shared punctuation', () => {
    const sample = sampleFor(parseCharset('21-2f 1e900-1e94b'));
    assert.equal(sample.script, 'Glyphs');
    assert.deepEqual([...sample.text.replaceAll(' ', '')].map((c) => c.codePointAt(0)), Array.from({ length: 12 }, (_, i) => 0x1e900 + i));
  });
});
