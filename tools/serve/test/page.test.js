// The live page in Debian's Chromium, headless: previews stream in, follow the text as it is
// typed, and stay correct across a renderer restart; the font browser on phone and desktop.
import assert from 'node:assert/strict';
import { mkdirSync, readFileSync } from 'node:fs';
import { join } from 'node:path';
import { after, before, test } from 'node:test';
import { fileURLToPath } from 'node:url';

import { Renderer } from '../../../clients/node/index.js';
import { listInstalledFonts } from '../fonts.js';
import { rendererPids } from '../../../clients/node/src/testing.js';
import { startServer } from '../server.js';
import { launchChromium } from './chromium.js';

const buildDir = fileURLToPath(new URL('../../../build/', import.meta.url));
const axeSource = readFileSync(fileURLToPath(new URL('../node_modules/axe-core/axe.min.js', import.meta.url)), 'utf8');
let server;
let chromium;
let browser;
let page;

before(async () => {
  server = await startServer({ workers: 2 });
  chromium = await launchChromium();
  browser = chromium.browser;
  page = await browser.newPage();
  await page.setViewport({ width: 1000, height: 700 });
  await page.emulateMediaFeatures([{ name: 'prefers-color-scheme', value: 'light' }]);
  await page.goto(server.url);
});

after(async () => {
  await chromium?.close();
  await server?.close();
});

// Rows in the viewport, once every one of them shows the page's current version.
async function settledVisibleRows(p = page, { min = 4 } = {}) {
  await p.waitForFunction(
    (min) => {
      const version = document.body.dataset.version;
      const top = document.querySelector('header').getBoundingClientRect().bottom;
      const shown = [...document.querySelectorAll('.row')].filter((row) => {
        const box = row.getBoundingClientRect();
        return box.bottom > top && box.top < innerHeight;
      });
      return shown.length >= min && shown.every((row) => row.dataset.version === version && row.dataset.state !== 'pending');
    },
    { timeout: 30000, polling: 'raf' },
    min,
  );
  return rowsOf(p);
}

function rowsOf(p) {
  return p.evaluate(() =>
    [...document.querySelectorAll('.row')]
      .filter((row) => row.dataset.version === document.body.dataset.version)
      .map((row) => {
        const canvas = row.querySelector('canvas');
        const alpha = canvas.width && canvas.height
          ? [...canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data].filter((_, i) => i % 4 === 3)
          : [];
        return {
          id: row.dataset.id,
          family: row.querySelector('b').textContent,
          style: row.querySelector('.style').textContent,
          state: row.dataset.state,
          text: row.dataset.text,
          sample: row.dataset.sample,
          error: row.querySelector('.error').textContent,
          width: canvas.width,
          height: canvas.height,
          columnWidth: Number(row.dataset.width),
          label: canvas.getAttribute('aria-label'),
          alpha,
        };
      }),
  );
}

// What the renderer draws for the same font and text, straight through the package.
async function direct(row, text, dpiScale, width = row.columnWidth, fontSize = 28) {
  const fonts = await (await fetch(new URL('/fonts', server.url))).json();
  const font = fonts.find((f) => f.id === row.id);
  const renderer = await Renderer.start();
  await renderer.registerFonts([{ fontId: 'x', familyName: font.family, styleName: font.style }]);
  const [r] = await renderer.renderAll({ generation: 1, text, fontSize, width, dpiScale, fontIds: ['x'] });
  await renderer.shutdown();
  return r;
}

async function typeQuickly(texts) {
  for (const text of texts) {
    await page.click('#text', { clickCount: 3 });
    await page.keyboard.press('Backspace');
    await page.keyboard.type(text, { delay: 0 });
  }
}

test('the visible previews are drawn with ink at the expected size, the rest only on scroll', { timeout: 120000 }, async () => {
  const rows = await settledVisibleRows();
  const fontCount = Number(await page.evaluate(() => document.body.dataset.fontCount));
  assert.ok(fontCount > 20);
  assert.ok(rows.length < fontCount, `only visible rows are rendered first (${rows.length} of ${fontCount})`);
  const sans = rows.find((r) => r.family === 'DejaVu Sans' && r.style === 'Regular');
  assert.ok(sans, 'DejaVu Sans Regular is among the first rows');
  assert.equal(sans.state, 'drawn');
  assert.equal(sans.width, sans.columnWidth);
  assert.equal(sans.columnWidth, 1000 - 260 - 48, 'the wrap width follows the column');
  assert.ok(sans.alpha.some((a) => a > 0), 'the preview has ink');
  const want = await direct(sans, 'The quick brown fox jumps over the lazy dog', 1);
  assert.equal(sans.height, want.height);
  assert.deepEqual(sans.alpha, [...want.bitmap]);

  await page.evaluate(() => window.scrollTo(0, document.body.scrollHeight));
  const bottom = await settledVisibleRows();
  assert.ok(bottom.length > rows.length, 'scrolling renders the rows that came into view');
  await page.evaluate(() => window.scrollTo(0, 0));
});

test('typing fast: the final previews show the final text, never an earlier one', { timeout: 120000 }, async () => {
  await typeQuickly(['Wrong one', 'Still wrong 2', 'Hamburgefonstiv 42']);
  const rows = await settledVisibleRows();
  assert.ok(rows.length > 3);
  for (const row of rows) {
    if (row.sample) assert.notEqual(row.text, 'Hamburgefonstiv 42', row.family);
    else assert.equal(row.text, 'Hamburgefonstiv 42', row.family);
    if (row.state === 'error') assert.match(row.error, /^[A-Z_]+$/);
  }
  const sans = rows.find((r) => r.family === 'DejaVu Sans' && r.style === 'Regular');
  const want = await direct(sans, 'Hamburgefonstiv 42', 1);
  const stale = await direct(sans, 'Still wrong 2', 1);
  assert.deepEqual(sans.alpha, [...want.bitmap]);
  assert.notDeepEqual(sans.alpha, [...stale.bitmap]);
});

test('a font that cannot show the typed script shows its own sample, labelled', { timeout: 120000 }, async () => {
  await typeQuickly(['नमस्ते']);
  const rows = await settledVisibleRows();
  const latinOnly = rows.find((r) => r.family === 'DejaVu Sans Mono');
  assert.ok(latinOnly, 'a Latin font is visible');
  assert.equal(latinOnly.sample, 'Latin');
  assert.equal(latinOnly.state, 'drawn');
  const label = await page.$eval(`.row[data-id="${latinOnly.id}"] .sample`, (e) => e.textContent);
  assert.match(label, /Latin sample$/);
  assert.equal(latinOnly.label, 'DejaVu Sans Mono Regular: The quick brown fox', 'the image is named by font and drawn text');
});

test('the 2× toggle doubles the bitmap; a renderer restart only delays the previews', { timeout: 120000 }, async () => {
  await typeQuickly(['Restart 7']);
  for (const pid of rendererPids(server.service)) process.kill(pid, 'SIGKILL');
  await page.click('#dpi-2');
  const rows = await settledVisibleRows();
  const sans = rows.find((r) => r.family === 'DejaVu Sans' && r.style === 'Regular');
  assert.equal(sans.width, 2 * sans.columnWidth);
  const want = await direct(sans, 'Restart 7', 2);
  assert.deepEqual(sans.alpha, [...want.bitmap]);
  assert.ok(server.service.restarts >= 1);
  assert.deepEqual(rows.filter((r) => r.error === 'RENDERER_EXITED' || r.error === 'RENDERER_CRASHED'), []);

  await page.click('#dpi-1');
  await typeQuickly(['The quick brown fox jumps over the lazy dog']);
  await settledVisibleRows();
  mkdirSync(buildDir, { recursive: true });
  await page.screenshot({ path: join(buildDir, 'serve-page.png') });
  // Further down, fonts of other scripts show their own samples.
  assert.ok(await page.evaluate(() => window.fontPage.reveal('Noto Sans Bengali')) > 0);
  const further = await settledVisibleRows();
  assert.ok(further.some((r) => r.sample && r.sample !== 'Latin' && r.state === 'drawn'), 'a font of another script shows its sample');
  await page.screenshot({ path: join(buildDir, 'serve-page-scripts.png') });
});
