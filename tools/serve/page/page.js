// The font browser. The list is virtual: only rows near the view exist in the document, each
// with its canvas; the rest are heights in an array, measured by the server before they are
// drawn so scrolling stays put. Every change of text, size, density or wrap width starts a new
// version; replies of older versions are ignored, so an older preview never overwrites a newer one.

import { readRecords } from './records.js';

const $ = (id) => document.getElementById(id);
const session = Math.random().toString(36).slice(2);
const kMaxText = 200;
const kNameHeight = 70; // px: family, style line, actions (CSS --name-height)
const kNoteHeight = 20; // px: the line that says colour glyphs are drawn as coverage
const kRowPadding = 17; // px: padding and the bottom border
const kStackGap = 4; // px between name and preview on narrow screens
const kNarrow = 640; // px: below this, names stack above previews
const kWaterfall = [12, 16, 20, 28, 40, 56, 80, 112];
const kPreferredStyles = /^(regular|book|roman|normal|text)$/i;

const state = { version: 1, text: '', size: 28, dpiMode: 'auto', dpi: 1, width: 480, narrow: false, q: '', covers: false, script: '', kind: '', font: '' };
let fonts = []; // from /fonts, page order
let byId = new Map();
let items = []; // rows after filtering: { font, index, child, styles }
const expanded = new Set(); // families whose styles are all listed
let coverage = null; // { text, bits } from the server
let offsets = new Float64Array(1);
const heights = new Map(); // fontId -> preview height in DIPs, for the current version
const measuring = new Set(); // fontIds whose height is asked for in the current version
const requested = new Set(); // fontIds whose bitmap is asked for in the current version
const drawn = new Map(); // fontId -> { r, payload } of the current version
const rowEls = new Map(); // fontId -> row element in the document
const inflight = new Set(); // AbortControllers of /render requests
let focusId = '';
let scheduled = false;
let retry = { delay: 0, timer: 0 };
let ink = [0, 0, 0];
let inkPixels = new Uint32Array(256); // coverage -> RGBA pixel in the ink colour, as the canvas stores it
let listWidth = 0; // px, the list's width as last laid out
let lastView = { top: 0, scroll: 0 }; // the list's offset and the scroll position as last read
let frozenView = false;
let counterNote = '';

// ---- start ----

async function main() {
  readUrl();
  fonts = await fetchWithBackoff('/fonts', 'the font list');
  byId = new Map(fonts.map((f, index) => [f.id, { ...f, index }]));
  document.body.dataset.fontCount = fonts.length;
  const scripts = [...new Set(fonts.flatMap((f) => f.scripts))].sort();
  for (const s of scripts) $('script').append(new Option(s, s));
  $('script').value = state.script;
  $('kind').value = state.kind;
  readInk();
  wire();
  measureLayout();
  await refilter();
  changed({ moved: true });
  if (state.font) openDetail(state.font, { push: false });
}

function readUrl() {
  const p = new URLSearchParams(location.search);
  if (p.has('text')) $('text').value = p.get('text').slice(0, kMaxText);
  if (p.has('size')) $('size').value = p.get('size');
  const dpi = p.get('dpi');
  if (dpi === '1' || dpi === '2') state.dpiMode = dpi;
  state.q = p.get('q') ?? '';
  state.covers = p.get('covers') === '1';
  state.script = p.get('script') ?? '';
  state.kind = p.get('kind') ?? '';
  state.font = p.get('font') ?? '';
  $('search').value = state.q;
  $('covers').checked = state.covers;
  pressDpi();
}

let urlTimer = 0;
function writeUrl() {
  clearTimeout(urlTimer);
  urlTimer = setTimeout(() => {
    const p = new URLSearchParams();
    p.set('text', state.text);
    p.set('size', state.size);
    if (state.dpiMode !== 'auto') p.set('dpi', state.dpiMode);
    if (state.q) p.set('q', state.q);
    if (state.covers) p.set('covers', '1');
    if (state.script) p.set('script', state.script);
    if (state.kind) p.set('kind', state.kind);
    if (state.font) p.set('font', state.font);
    history.replaceState(null, '', `?${p}`);
  }, 150);
}

function wire() {
  $('text').addEventListener('input', () => {
    changed();
    if (state.covers) refilter();
  });
  $('text').addEventListener('paste', (e) => {
    const pasted = e.clipboardData?.getData('text') ?? '';
    const field = $('text');
    const room = kMaxText - field.value.length + (field.selectionEnd - field.selectionStart);
    if (pasted.length > room) counterNote = `Pasted text cut to ${kMaxText} characters`;
  });
  $('size').addEventListener('input', () => changed());
  for (const b of document.querySelectorAll('.dpi button')) {
    b.addEventListener('click', () => {
      state.dpiMode = b.dataset.dpi;
      pressDpi();
      changed();
    });
  }
  let searchTimer = 0;
  $('search').addEventListener('input', () => {
    clearTimeout(searchTimer);
    searchTimer = setTimeout(refilter, 60);
  });
  for (const id of ['covers', 'script', 'kind']) $(id).addEventListener('change', refilter);
  addEventListener('scroll', schedule, { passive: true });
  new ResizeObserver(() => {
    listWidth = $('fonts').clientWidth; // laid out already: no extra layout
    if (measureLayout()) changed({ moved: true });
    else relayout();
  }).observe($('fonts'));
  matchMedia('(prefers-color-scheme: dark)').addEventListener('change', () => {
    readInk();
    for (const [id, { r, payload }] of drawn) paint(rowEls.get(id)?.querySelector('canvas'), r, payload);
  });
  $('fonts').addEventListener('keydown', rowKeys);
  $('fonts').addEventListener('focusin', (e) => {
    const row = e.target.closest('.row');
    if (row) setFocusRow(row.dataset.id, false);
  });
  $('back').addEventListener('click', closeDetail);
  $('detail').addEventListener('keydown', (e) => e.key === 'Escape' && closeDetail());
  addEventListener('keydown', (e) => {
    if (e.key === '/' && !/^(INPUT|SELECT|TEXTAREA)$/.test(document.activeElement?.tagName)) {
      e.preventDefault();
      $('search').focus();
    }
  });
}

function pressDpi() {
  for (const b of document.querySelectorAll('.dpi button')) b.setAttribute('aria-pressed', String(b.dataset.dpi === state.dpiMode));
}

function readInk() {
  const hex = getComputedStyle(document.documentElement).getPropertyValue('--ink').trim().replace('#', '');
  ink = hex.length === 6 ? [0, 2, 4].map((i) => parseInt(hex.slice(i, i + 2), 16)) : [0, 0, 0];
  const bytes = new Uint8Array(4);
  const word = new Uint32Array(bytes.buffer);
  for (let a = 0; a < 256; a++) {
    bytes.set([...ink, a]);
    inkPixels[a] = word[0];
  }
}

// The wrap width follows the column; true when it or the density changed.
function measureLayout() {
  listWidth ||= $('fonts').clientWidth || document.documentElement.clientWidth;
  const narrow = listWidth < kNarrow;
  const width = Math.max(40, Math.floor(narrow ? listWidth - 32 : listWidth - 260 - 48));
  const dpi = state.dpiMode === 'auto' ? Math.min(4, Math.max(1, Math.round(devicePixelRatio * 4) / 4)) : Number(state.dpiMode);
  const moved = width !== state.width || dpi !== state.dpi;
  state.narrow = narrow;
  state.width = width;
  state.dpi = dpi;
  return moved;
}

// ---- versions ----

// `moved`: the list may have moved or the page scrolled since the last frame.
function changed({ moved = false } = {}) {
  state.text = $('text').value;
  state.size = Number($('size').value);
  measureLayout();
  $('size-value').textContent = state.size;
  updateCounter();
  state.version++;
  document.body.dataset.version = state.version;
  for (const controller of inflight) controller.abort();
  inflight.clear();
  requested.clear();
  measuring.clear();
  drawn.clear();
  // Heights of the previous text stand in until the new ones arrive.
  for (const row of rowEls.values()) if (row.dataset.state !== 'empty') row.dataset.state = 'pending';
  writeUrl();
  frozenView = !moved;
  try {
    ask();
  } finally {
    frozenView = false;
  }
  if (state.font) drawDetail();
}

// The count, and after a paste that did not fit, a note saying so until the next edit.
function updateCounter() {
  const n = state.text.length;
  $('counter').textContent = counterNote ? `${n}/${kMaxText} · ${counterNote}` : `${n}/${kMaxText}`;
  $('counter').toggleAttribute('data-full', n >= kMaxText);
  if (counterNote) announce(counterNote);
  counterNote = '';
}

// ---- filtering and grouping ----

const hasBit = (bits, i) => (bits[i >> 3] & (1 << (i & 7))) !== 0;

async function refilter() {
  state.q = $('search').value.trim();
  state.covers = $('covers').checked;
  state.script = $('script').value;
  state.kind = $('kind').value;
  writeUrl();
  let bits = null;
  if (state.covers && $('text').value) {
    const text = $('text').value;
    if (coverage?.text !== text) {
      const answer = await fetchJson(`/coverage?${new URLSearchParams({ text })}`).catch(() => null);
      if (!answer) return showBanner('The preview server did not answer; the filter is unchanged.');
      if (answer.text !== $('text').value) return; // a newer text is on its way
      coverage = { text, bits: Uint8Array.from(atob(answer.bits), (c) => c.charCodeAt(0)) };
    }
    bits = coverage.bits;
  }
  const words = state.q.toLowerCase().split(/\s+/).filter(Boolean);
  const keep = (f) =>
    (!bits || hasBit(bits, f.index)) &&
    (!state.script || f.scripts.includes(state.script)) &&
    (!state.kind || f.kinds.includes(state.kind)) &&
    (!words.length || words.every((w) => `${f.family} ${f.style}`.toLowerCase().includes(w)));
  // Styles grouped under their family: its regular style first, the others when it is opened.
  const families = new Map();
  for (const f of byId.values()) {
    if (!keep(f)) continue;
    if (!families.has(f.family)) families.set(f.family, []);
    families.get(f.family).push(f);
  }
  items = [];
  for (const [family, styles] of families) {
    const lead = styles.find((f) => kPreferredStyles.test(f.style)) ?? styles[0];
    items.push({ font: lead, child: false, styles: styles.length });
    if (expanded.has(family)) for (const f of styles) if (f !== lead) items.push({ font: f, child: true, styles: 0 });
  }
  $('status').textContent = `${items.length === fonts.length ? 'All' : items.filter((i) => !i.child).length} ${familiesWord(families.size)} · ${countFaces(families)} of ${fonts.length} fonts`;
  document.body.dataset.shown = items.length;
  for (const row of rowEls.values()) row.remove();
  rowEls.clear();
  relayout({ keepAnchor: false });
}

const familiesWord = (n) => (n === 1 ? 'family' : 'families');
const countFaces = (families) => [...families.values()].reduce((n, s) => n + s.length, 0);

function toggleFamily(family) {
  if (expanded.has(family)) expanded.delete(family);
  else expanded.add(family);
  const anchor = focusId;
  refilter().then(() => anchor && setFocusRow(anchor, true));
}

// ---- layout of the virtual list ----

function estimate() {
  return Math.ceil(state.size * 1.25);
}

function rowHeight(font) {
  const preview = drawn.get(font.id)?.r.error ? 22 : (heights.get(font.id) ?? estimate());
  const shown = preview + (font.kinds.includes('color') ? kNoteHeight : 0);
  return state.narrow ? kNameHeight + kStackGap + shown + kRowPadding : Math.max(kNameHeight, shown) + kRowPadding;
}

function relayout({ keepAnchor = true } = {}) {
  const list = $('fonts');
  // The first row in view stays where it is while rows above it change height.
  const top = scrollY - list.offsetTop;
  let anchor = -1;
  let within = 0;
  if (keepAnchor && top > 0) {
    anchor = firstAt(top);
    within = top - offsets[anchor];
  }
  offsets = new Float64Array(items.length + 1);
  for (let i = 0; i < items.length; i++) offsets[i + 1] = offsets[i] + rowHeight(items[i].font);
  list.style.height = `${offsets[items.length]}px`;
  if (anchor >= 0 && anchor < items.length) {
    const want = offsets[anchor] + within + list.offsetTop;
    if (Math.abs(want - scrollY) >= 1) scrollTo(scrollX, want);
  }
  placeRows();
  schedule();
}

// Index of the row at a height within the list.
function firstAt(y) {
  let lo = 0;
  let hi = items.length - 1;
  while (lo < hi) {
    const mid = (lo + hi) >> 1;
    if (offsets[mid + 1] <= y) lo = mid + 1;
    else hi = mid;
  }
  return Math.max(0, lo);
}

// Where the list is and how far the page is scrolled. Reading them lays the page out, so a change
// of text, which moves neither, uses the last figures read instead of laying out in the keystroke.
function view() {
  if (!frozenView) lastView = { top: $('fonts').offsetTop, scroll: scrollY };
  return lastView;
}

function range(margin) {
  const { top: listTop, scroll } = view();
  const top = scroll - listTop - margin;
  const bottom = scroll - listTop + innerHeight + margin;
  if (!items.length) return [0, -1];
  return [firstAt(Math.max(0, top)), firstAt(Math.max(0, bottom))];
}

// Rows near the view are in the document; the others are not, nor their canvases.
function placeRows() {
  const [first, last] = range(innerHeight);
  const keep = new Set();
  for (let i = first; i <= last; i++) keep.add(items[i].font.id);
  if (focusId && document.activeElement?.closest?.('.row')?.dataset.id === focusId) keep.add(focusId);
  for (const [id, row] of rowEls) {
    if (!keep.has(id)) {
      row.remove();
      rowEls.delete(id);
    }
  }
  const indexOf = new Map();
  for (let i = first; i <= last; i++) indexOf.set(items[i].font.id, i);
  if (focusId && !indexOf.has(focusId)) {
    const i = items.findIndex((it) => it.font.id === focusId);
    if (i >= 0) indexOf.set(focusId, i);
  }
  for (const [id, i] of indexOf) {
    let row = rowEls.get(id);
    if (!row) {
      row = makeRow(items[i]);
      rowEls.set(id, row);
      $('fonts').append(row);
    }
    row.style.top = `${offsets[i]}px`;
    row.style.height = `${offsets[i + 1] - offsets[i]}px`;
    row.tabIndex = id === (focusId || items[first]?.font.id) ? 0 : -1;
    row.setAttribute('aria-posinset', i + 1);
    row.setAttribute('aria-setsize', items.length);
  }
}

function makeRow(item) {
  const { font } = item;
  const row = document.createElement('div');
  row.className = item.child ? 'row child' : 'row';
  row.setAttribute('role', 'listitem');
  row.dataset.id = font.id;
  row.dataset.state = 'empty';
  row.innerHTML = `<div class="name"><div><b></b></div><div><span class="style"></span><span class="sample"></span></div>
<div class="actions"><button type="button" class="open"></button></div></div><div class="preview"><div class="note" hidden></div><canvas width="0" height="0" role="img"></canvas><div class="error"></div></div>`;
  row.querySelector('b').textContent = font.family;
  row.querySelector('.style').textContent = font.style;
  row.setAttribute('aria-label', `${font.family} ${font.style}`);
  if (font.kinds.includes('color')) {
    const note = row.querySelector('.note');
    note.hidden = false;
    note.textContent = 'Colour font: colour glyphs drawn as coverage';
  }
  const open = row.querySelector('.open');
  open.textContent = 'Details';
  open.setAttribute('aria-label', `Details of ${font.family} ${font.style}`);
  open.addEventListener('click', () => openDetail(font.id));
  if (item.styles > 1) {
    const styles = document.createElement('button');
    styles.type = 'button';
    styles.className = 'styles';
    styles.textContent = `${item.styles} styles`;
    styles.setAttribute('aria-expanded', String(expanded.has(font.family)));
    styles.setAttribute('aria-label', `${expanded.has(font.family) ? 'Hide' : 'Show'} the ${item.styles} styles of ${font.family}`);
    styles.addEventListener('click', () => toggleFamily(font.family));
    row.querySelector('.actions').prepend(styles);
  }
  const shown = drawn.get(font.id);
  if (shown) showResult(row, shown.r, shown.payload);
  else labelCanvas(row, font, '');
  return row;
}

function labelCanvas(row, font, text) {
  row.querySelector('canvas').setAttribute('aria-label', text ? `${font.family} ${font.style}: ${text}` : `${font.family} ${font.style}: not drawn yet`);
}

// ---- keyboard ----

function setFocusRow(id, move) {
  focusId = id;
  for (const row of rowEls.values()) row.tabIndex = row.dataset.id === id ? 0 : -1;
  if (move) {
    const i = items.findIndex((it) => it.font.id === id);
    if (i < 0) return;
    const listTop = $('fonts').offsetTop;
    const headerBottom = document.querySelector('header').getBoundingClientRect().bottom;
    const rowTop = offsets[i] + listTop;
    if (rowTop < scrollY + headerBottom || offsets[i + 1] + listTop > scrollY + innerHeight) {
      scrollTo(scrollX, Math.max(0, rowTop - headerBottom - 8));
    }
    placeRows();
    rowEls.get(id)?.focus({ preventScroll: true });
  }
}

function rowKeys(e) {
  const row = e.target.closest('.row');
  if (!row || e.target !== row) return;
  const i = items.findIndex((it) => it.font.id === row.dataset.id);
  const page = Math.max(1, Math.floor(innerHeight / (estimate() + kRowPadding)) - 1);
  const to = { ArrowDown: i + 1, ArrowUp: i - 1, Home: 0, End: items.length - 1, PageDown: i + page, PageUp: i - page }[e.key];
  if (to !== undefined) {
    e.preventDefault();
    setFocusRow(items[Math.max(0, Math.min(items.length - 1, to))].font.id, true);
  } else if (e.key === 'Enter' || e.key === ' ') {
    e.preventDefault();
    openDetail(row.dataset.id);
  } else if ((e.key === 'ArrowRight' || e.key === 'ArrowLeft') && items[i].styles > 1) {
    const family = items[i].font.family;
    if ((e.key === 'ArrowRight') !== expanded.has(family)) toggleFamily(family);
  }
}

// ---- requests ----

// Scrolling and layout ask at the next frame, once however many times they ask.
function schedule() {
  if (scheduled) return;
  scheduled = true;
  requestAnimationFrame(() => {
    scheduled = false;
    ask();
  });
}

// Asks for the bitmaps of the rows in view that lack one, and the heights of rows around them.
// A change of text asks at once: a frame's wait would be a third of the time to the previews.
function ask() {
  placeRows();
  if (retry.timer) return;
  const [first, last] = range(100);
  const wanted = [];
  for (let i = first; i <= last; i++) if (!requested.has(items[i].font.id)) wanted.push(items[i].font.id);
  // Heights of the rows a few screens around, before they come into view.
  const [mFirst, mLast] = range(innerHeight * 3);
  const measure = [];
  for (let i = mFirst; i <= mLast && measure.length < 400; i++) {
    const id = items[i].font.id;
    if (!measuring.has(id) && !requested.has(id) && !wanted.includes(id)) measure.push(id);
  }
  if (wanted.length || measure.length) request(wanted.slice(0, 200), measure);
  progress();
}

async function request(ids, measure) {
  const version = state.version;
  for (const id of ids) requested.add(id);
  for (const id of measure) measuring.add(id);
  const controller = new AbortController();
  inflight.add(controller);
  const query = new URLSearchParams({ session, version, text: state.text, size: state.size, dpi: state.dpi, width: state.width, ids: ids.join(','), measure: measure.join(',') });
  let answered = false;
  let unavailable = 0;
  try {
    const response = await fetch(`/render?${query}`, { signal: controller.signal });
    if (!response.ok) throw new Error(`HTTP ${response.status}`);
    let grew = false;
    let relayoutQueued = false;
    await readRecords(response.body.getReader(), (r, payload) => {
      if (r.version !== state.version) return;
      if (r.error === 'RENDERER_EXITED' || r.error === 'INTERNAL_ERROR') unavailable++;
      if (r.measured) {
        if (heights.get(r.fontId) !== r.height) grew = true;
        heights.set(r.fontId, r.height);
      } else {
        const before = heights.get(r.fontId);
        if (!r.error) heights.set(r.fontId, r.height / r.dpi);
        drawn.set(r.fontId, { r, payload });
        if (before !== heights.get(r.fontId) || r.error) grew = true;
        const row = rowEls.get(r.fontId);
        if (row) showResult(row, r, payload);
      }
      if (grew && !relayoutQueued) {
        relayoutQueued = true;
        requestAnimationFrame(() => {
          relayoutQueued = false;
          grew = false;
          relayout();
        });
      }
    });
    if (unavailable) throw new Error('renderers unavailable');
    answered = true;
    hideBanner();
  } catch (error) {
    if (error.name === 'AbortError' || version !== state.version) return;
    for (const id of ids) if (!drawn.has(id) || drawn.get(id).r.error) requested.delete(id), drawn.delete(id);
    for (const id of measure) if (!heights.has(id)) measuring.delete(id);
    backoff(unavailable ? 'The renderers are unavailable' : 'The preview server is not answering');
  } finally {
    inflight.delete(controller);
    // Only an answer ends the backoff: a request cancelled by a newer one says nothing of the server.
    if (answered) retry.delay = 0;
    progress();
  }
}

function backoff(what) {
  retry.delay = Math.min(30000, retry.delay ? retry.delay * 2 : 1000);
  const seconds = Math.round(retry.delay / 1000);
  showBanner(`${what}; trying again in ${seconds} s.`);
  clearTimeout(retry.timer);
  retry.timer = setTimeout(() => {
    retry.timer = 0;
    schedule();
  }, retry.delay);
}

function showBanner(text) {
  $('banner').textContent = text;
  $('banner').hidden = false;
}
function hideBanner() {
  if (!$('banner').hidden) $('banner').hidden = true;
}

async function fetchJson(url) {
  const response = await fetch(url);
  if (!response.ok) throw new Error(`HTTP ${response.status}`);
  return response.json();
}

async function fetchWithBackoff(url, what) {
  for (let delay = 1000; ; delay = Math.min(30000, delay * 2)) {
    try {
      const answer = await fetchJson(url);
      hideBanner();
      return answer;
    } catch {
      showBanner(`Could not load ${what}; trying again in ${delay / 1000} s.`);
      await new Promise((resolve) => setTimeout(resolve, delay));
    }
  }
}

// ---- drawing ----

function showResult(row, r, payload) {
  const font = byId.get(r.fontId);
  const canvas = row.querySelector('canvas');
  row.querySelector('.sample').textContent = r.sample ? ` · ${r.sample} sample` : '';
  row.dataset.version = r.version;
  row.dataset.text = r.text;
  row.dataset.sample = r.sample;
  row.dataset.width = state.width;
  if (r.error) {
    canvas.width = canvas.height = 0;
    row.querySelector('.error').textContent = r.error;
    row.dataset.state = 'error';
    labelCanvas(row, font, `could not be drawn (${r.error})`);
    return;
  }
  row.querySelector('.error').textContent = '';
  paint(canvas, r, payload);
  labelCanvas(row, font, r.text);
  row.dataset.state = 'drawn';
}

// Coverage as the alpha of the ink colour. A canvas keeps its size when the new bitmap has it:
// resizing a canvas reallocates it and lays the row out again.
function paint(canvas, r, payload) {
  if (!canvas) return;
  if (canvas.width !== r.width) canvas.width = r.width;
  if (canvas.height !== r.height) canvas.height = r.height;
  const cssWidth = `${r.width / r.dpi}px`;
  const cssHeight = `${r.height / r.dpi}px`;
  if (canvas.style.width !== cssWidth) canvas.style.width = cssWidth;
  if (canvas.style.height !== cssHeight) canvas.style.height = cssHeight;
  if (!r.width || !r.height) return;
  const { image, pixels } = scratchImage(r.width, r.height);
  const n = Math.min(payload.length, pixels.length);
  for (let i = 0; i < n; i++) pixels[i] = inkPixels[payload[i]];
  if (n < pixels.length) pixels.fill(0, n);
  canvas.getContext('2d').putImageData(image, 0, 0);
}

// Pixel buffers to convert bitmaps in, a few sizes kept: putImageData copies out of them, and the
// rows of one text are mostly of one or two sizes, so a keystroke allocates none.
const scratch = new Map();
function scratchImage(width, height) {
  const key = `${width}x${height}`;
  let entry = scratch.get(key);
  if (entry) scratch.delete(key);
  else {
    const image = new ImageData(width, height);
    entry = { image, pixels: new Uint32Array(image.data.buffer) };
  }
  scratch.set(key, entry);
  if (scratch.size > 4) scratch.delete(scratch.keys().next().value);
  return entry;
}

function progress() {
  let visible = 0;
  let done = 0;
  const [first, last] = range(0);
  for (let i = first; i <= last; i++) {
    visible++;
    if (drawn.has(items[i].font.id)) done++;
  }
  $('progress').textContent = inflight.size ? `drawing ${done} of ${visible}…` : '';
  if (visible && done === visible && !document.body.dataset.firstScreen) document.body.dataset.firstScreen = Math.round(performance.now());
}

function announce(text) {
  $('status').textContent = text;
}

// ---- per-font view ----

let detail = null; // { font, info, axes: Map(tag -> value), version }

async function openDetail(id, { push = true } = {}) {
  const font = byId.get(id);
  if (!font) return;
  state.font = id;
  if (push) writeUrl();
  $('fonts').hidden = true;
  $('detail').hidden = false;
  $('detail-title').textContent = `${font.family} ${font.style}`;
  detail = { font, info: null, axes: new Map(), version: 0 };
  const info = await fetchJson(`/font?id=${encodeURIComponent(id)}`).catch(() => null);
  if (!info || detail?.font !== font) return;
  detail.info = info;
  const facts = [
    ['Family', info.family], ['Style', info.style], ['Full name', info.fullName], ['PostScript name', info.postScriptName],
    ['File', info.file], ['Scripts', info.scripts.join(', ') || '—'], ['Kinds', info.kinds.join(', ') || '—'],
  ];
  $('facts').replaceChildren(...facts.flatMap(([k, v]) => [Object.assign(document.createElement('dt'), { textContent: k }), Object.assign(document.createElement('dd'), { textContent: v })]));
  $('copy-name').onclick = () => copy(`${info.family} ${info.style}`, 'Name copied');
  $('copy-css').onclick = () => copy(`font-family: "${info.family.replaceAll('"', '\\"')}";`, 'CSS font-family copied');
  const others = fonts.filter((f) => f.family === font.family).length;
  $('other-styles').hidden = others < 2;
  $('other-styles').textContent = `All ${others} styles of ${font.family}`;
  $('other-styles').onclick = () => {
    expanded.add(font.family);
    $('search').value = font.family;
    closeDetail();
    refilter();
  };
  $('axes').replaceChildren(...info.axes.map((axis) => {
    detail.axes.set(axis.tag, axis.default);
    const label = document.createElement('label');
    label.innerHTML = '<span></span><input type="range"><output></output>';
    label.firstChild.textContent = `${axis.name} (${axis.tag})`;
    const input = label.querySelector('input');
    Object.assign(input, { min: axis.min, max: axis.max, step: axis.max - axis.min > 20 ? 1 : 0.1, value: axis.default });
    input.dataset.tag = axis.tag;
    label.querySelector('output').textContent = axis.default;
    input.addEventListener('input', () => {
      detail.axes.set(axis.tag, Number(input.value));
      label.querySelector('output').textContent = input.value;
      drawDetail();
    });
    return label;
  }));
  $('waterfall').replaceChildren(...kWaterfall.map((size) => {
    const step = document.createElement('div');
    step.className = 'step';
    step.setAttribute('role', 'listitem');
    step.dataset.size = size;
    step.innerHTML = '<div class="step-size"></div><canvas width="0" height="0" role="img"></canvas>';
    step.firstChild.textContent = `${size} px`;
    return step;
  }));
  $('back').focus();
  drawDetail();
}

function closeDetail() {
  const id = state.font;
  state.font = '';
  detail = null;
  $('detail').hidden = true;
  $('fonts').hidden = false;
  writeUrl();
  relayout({ keepAnchor: false });
  if (id && items.some((it) => it.font.id === id)) setFocusRow(id, true);
}

function drawDetail() {
  if (!detail?.info) return;
  const version = ++detail.version;
  const { font } = detail;
  const axes = [...detail.axes].map(([tag, value]) => `${tag}:${value}`).join(',');
  const width = Math.max(40, Math.floor($('waterfall').clientWidth || state.width));
  document.body.dataset.detailVersion = `${font.id}:${version}`;
  for (const step of $('waterfall').children) {
    const size = Number(step.dataset.size);
    const query = new URLSearchParams({ session: `${session}-${size}`, version: `${state.version}${String(version).padStart(6, '0')}`, text: state.text, size, dpi: state.dpi, width, ids: font.id });
    if (axes) query.set('axes', axes);
    fetch(`/render?${query}`)
      .then((response) => (response.ok ? readRecords(response.body.getReader(), (r, payload) => {
        if (r.measured || detail?.font !== font || detail.version !== version) return;
        const canvas = step.querySelector('canvas');
        step.dataset.version = `${font.id}:${version}`;
        if (r.error) {
          canvas.width = canvas.height = 0;
          canvas.setAttribute('aria-label', `${font.family} ${font.style} at ${size} px could not be drawn (${r.error})`);
          return;
        }
        paint(canvas, r, payload);
        canvas.setAttribute('aria-label', `${font.family} ${font.style} at ${size} px: ${r.text}`);
      }) : null))
      .catch(() => {});
  }
}

async function copy(text, done) {
  try {
    await navigator.clipboard.writeText(text);
  } catch {
    const area = Object.assign(document.createElement('textarea'), { value: text });
    document.body.append(area);
    area.select();
    document.execCommand('copy');
    area.remove();
  }
  announce(done);
}

// For tests and people at the console: bring a family's row into view.
window.fontPage = {
  reveal(family) {
    const i = items.findIndex((it) => it.font.family === family);
    if (i >= 0) setFocusRow(items[i].font.id, true);
    return i;
  },
  get rowsInDocument() {
    return rowEls.size;
  },
};

main();
