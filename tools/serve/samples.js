// One sample text per script, for fonts that do not cover the text the user typed. The first
// sample whose every character the font covers is the one shown.
export const samples = [
  ['Latin', 'The quick brown fox'],
  ['Greek', 'Ζαφείρι δέξου πάγκαλο'],
  ['Cyrillic', 'Съешь же ещё этих булок'],
  ['Armenian', 'Բարեւ աշխարհ'],
  ['Georgian', 'გამარჯობა მსოფლიო'],
  ['Hebrew', 'שלום עולם'],
  ['Arabic', 'مرحبا بالعالم'],
  ['Syriac', 'ܫܠܡܐ ܥܠܡܐ'],
  ['Thaana', 'ދިވެހިރާއްޖެ'],
  ['Devanagari', 'नमस्ते दुनिया'],
  ['Bengali', 'নমস্কার বিশ্ব'],
  ['Gurmukhi', 'ਸਤ ਸ੍ਰੀ ਅਕਾਲ'],
  ['Gujarati', 'નમસ્તે દુનિયા'],
  ['Oriya', 'ନମସ୍କାର'],
  ['Tamil', 'வணக்கம் உலகம்'],
  ['Telugu', 'నమస్కారం ప్రపంచం'],
  ['Kannada', 'ನಮಸ್ಕಾರ ಜಗತ್ತು'],
  ['Malayalam', 'നമസ്കാരം ലോകം'],
  ['Sinhala', 'ආයුබෝවන් ලෝකය'],
  ['Thai', 'สวัสดีชาวโลก'],
  ['Lao', 'ສະບາຍດີ'],
  ['Tibetan', 'བཀྲ་ཤིས་བདེ་ལེགས།'],
  ['Myanmar', 'မင်္ဂလာပါ'],
  ['Khmer', 'សួស្តី​ពិភពលោក'],
  ['Ethiopic', 'ሰላም ለዓለም'],
  ['Cherokee', 'ᎣᏏᏲ ᎡᎶᎯ'],
  ['Japanese', 'いろはにほへと'],
  ['Han', '天地玄黃 宇宙洪荒'],
  ['Hangul', '안녕하세요 세계'],
  ['Emoji', '😀 🎉 👍 🌍 🐈'],
];

// Code points that need no glyph of their own for a text to count as covered: controls and
// blanks, joiners and direction marks, variation selectors, emoji skin-tone modifiers (drawn as
// a swatch after the base when there is no ligature) and emoji tag characters.
const ignorable = (cp) =>
  cp <= 0x20 ||
  (cp >= 0x7f && cp <= 0xa0) ||
  cp === 0xad ||
  cp === 0x34f ||
  (cp >= 0x180b && cp <= 0x180f) ||
  (cp >= 0x200b && cp <= 0x200f) ||
  (cp >= 0x2028 && cp <= 0x202e) ||
  (cp >= 0x2060 && cp <= 0x206f) ||
  (cp >= 0xfe00 && cp <= 0xfe0f) ||
  cp === 0xfeff ||
  (cp >= 0x1f3fb && cp <= 0x1f3ff) ||
  (cp >= 0xe0000 && cp <= 0xe007f) ||
  (cp >= 0xe0100 && cp <= 0xe01ef);

// A fontconfig charset ("20-7e a0 100-17f ...") as sorted [first, last] ranges.
export function parseCharset(text) {
  return text
    .split(/\s+/)
    .filter(Boolean)
    .map((range) => range.split('-').map((hex) => parseInt(hex, 16)))
    .map(([first, last = first]) => [first, last])
    .filter(([first, last]) => Number.isFinite(first) && Number.isFinite(last))
    .sort((a, b) => a[0] - b[0]);
}

export function covers(ranges, text) {
  for (const char of text) {
    const cp = char.codePointAt(0);
    if (ignorable(cp)) continue;
    let lo = 0;
    let hi = ranges.length - 1;
    let found = false;
    while (lo <= hi) {
      const mid = (lo + hi) >> 1;
      if (cp < ranges[mid][0]) hi = mid - 1;
      else if (cp > ranges[mid][1]) lo = mid + 1;
      else {
        found = true;
        break;
      }
    }
    if (!found) return false;
  }
  return true;
}

// Shared punctuation and marks that say nothing about a font's own script.
const common = (cp) => cp < 0x250 || (cp >= 0x2000 && cp <= 0x2bff) || (cp >= 0x3000 && cp <= 0x303f) || cp === 0xfeff;

// The first sample the font covers; else a row of the font's own characters, beyond the shared
// punctuation when it has any.
export function sampleFor(ranges) {
  for (const [script, text] of samples) if (covers(ranges, text)) return { script, text };
  const pick = (accept) => {
    const chars = [];
    for (const [first, last] of ranges) {
      for (let cp = first; cp <= last && chars.length < 12; cp++) if (!ignorable(cp) && accept(cp)) chars.push(String.fromCodePoint(cp));
    }
    return chars;
  };
  const own = pick((cp) => !common(cp));
  return { script: 'Glyphs', text: (own.length ? own : pick(() => true)).join(' ') };
}
