// The font browser in Chromium on a phone and a desktop viewport: search, the coverage filter,
// the per-font view with its axis sliders, keyboard use, themes, accessibility (axe-core), a
// 20 000-font collection, and an unavailable server. Prints first-screen time and typing latency.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdirSync, mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { after, before, test } from 'node:test';
import { fileURLToPath } from 'node:url';

import { listInstalledFonts } from '../fonts.js';
import { startServer } from '../server.js';
import { defaultRendererPath } from '../../../clients/node/index.js';
import { launchChromium } from './chromium.js';
import { firstScreen, installLatencyProbe, percentile, typeAndMeasure } from './latency.js';

const buildDir = fileURLToPath(new URL('../../../build/', import.meta.url));
const axeSource = readFileSync(fileURLToPath(new URL('../node_modules/axe-core/axe.min.js', import.meta.url)), 'utf8');
let server;
let chromium;
let browser;

before(async () => {
  mkdirSync(buildDir, { recursive: true });
  server = await startServer({ workers: 2 });
  chromium = await launchChromium();
  browser = chromium.browser;
});

after(async () => {
  await chromium?.close();
  await server?.close();
});

const phone = { width: 390, height: 844, deviceScaleFactor: 3, isMobile: true, hasTouch: true };
const desktop = { width: 1280, height: 900, deviceScaleFactor: 1 };

async function open(viewport, query = '', { scheme = 'light', url = server.url } = {}) {
  const page = await browser.newPage();
  await page.setViewport(viewport);
  await page.emulateMediaFeatures([{ name: 'prefers-color-scheme', value: scheme }]);
  await page.goto(`${url}${query}`);
  await settled(page);
  return page;
}

// Waits until every row in view shows the current version; returns what they show.
async function settled(page, { min = 1 } = {}) {
  await page.waitForFunction(
    (min) => {
      const version = document.body.dataset.version;
      const top = document.querySelector('header').getBoundingClientRect().bottom;
      const shown = [...document.querySelectorAll('.row')].filter((row) => {
        const box = row.getBoundingClientRect();
        return box.bottom > top && box.top < innerHeight;
      });
      return shown.length >= min && shown.every((row) => row.dataset.version === version && row.dataset.state !== 'pending' && row.dataset.state !== 'empty');
    },
    { timeout: 30000, polling: 'raf' },
    min,
  );
  return page.evaluate(() => {
    const top = document.querySelector('header').getBoundingClientRect().bottom;
    return [...document.querySelectorAll('.row')]
      .filter((row) => {
        const box = row.getBoundingClientRect();
        return box.bottom > top && box.top < innerHeight;
      })
      .map((row) => {
        const canvas = row.querySelector('canvas');
        let ink = 0;
        if (canvas.width && canvas.height) {
          const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
          for (let i = 3; i < data.length; i += 4) ink += data[i];
        }
        return {
          id: row.dataset.id, family: row.querySelector('b').textContent, style: row.querySelector('.style').textContent,
          state: row.dataset.state, text: row.dataset.text, sample: row.dataset.sample, ink, width: canvas.width,
          label: canvas.getAttribute('aria-label'), note: row.querySelector('.note').hidden ? '' : row.querySelector('.note').textContent,
        };
      });
  });
}

async function setText(page, text) {
  await page.click('#text', { clickCount: 3 });
  await page.keyboard.press('Backspace');
  if (text) await page.keyboard.type(text, { delay: 0 });
}

async function axe(page, name) {
  await page.evaluate(axeSource);
  const { violations } = await page.evaluate(() => window.axe.run(document, { resultTypes: ['violations'] }));
  const bad = violations.filter((v) => v.impact === 'serious' || v.impact === 'critical');
  assert.deepEqual(bad.map((v) => `${v.id}: ${v.nodes.slice(0, 3).map((n) => n.target.join(' ')).join(', ')}`), [], `axe on ${name}`);
}

test('desktop: preview labels, accessibility in light and dark', { timeout: 180000 }, async () => {
  const page = await open(desktop);
  const rows = await settled(page, { min: 5 });
  for (const row of rows) assert.equal(row.label, `${row.family} ${row.style}: ${row.text}`);
  assert.equal(await page.$eval('#status', (e) => e.getAttribute('role')), 'status');
  await setText(page, 'Hamburgefonstiv');
  await settled(page, { min: 5 });
  await axe(page, 'desktop, light');
  await page.screenshot({ path: join(buildDir, 'serve-desktop.png') });

  await page.emulateMediaFeatures([{ name: 'prefers-color-scheme', value: 'dark' }]);
  await page.waitForFunction(() => getComputedStyle(document.body).backgroundColor !== 'rgb(255, 255, 255)');
  const theme = await page.evaluate(() => {
    const canvas = [...document.querySelectorAll('.row canvas')].find((c) => c.width > 0);
    const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    let i = 3;
    while (i < data.length && data[i] < 250) i += 4;
    return { background: getComputedStyle(document.body).backgroundColor, ink: [data[i - 3], data[i - 2], data[i - 1]] };
  });
  assert.equal(theme.background, 'rgb(20, 21, 23)');
  assert.ok(theme.ink.every((c) => c > 200), `light ink on the dark theme: ${theme.ink}`);
  await axe(page, 'desktop, dark');
  await page.screenshot({ path: join(buildDir, 'serve-dark.png') });
  await page.close();
});

test('phone and 320 px: names above previews, wrap width of the screen, no sideways scroll', { timeout: 120000 }, async (t) => {
  for (const [name, viewport] of [['phone', phone], ['320 px', { ...phone, width: 320, height: 640 }]]) {
    await t.test(name, async () => {
      const page = await open(viewport);
      const layout = await page.evaluate(() => {
        const row = document.querySelector('.row[data-state="drawn"]');
        return {
          innerWidth, scrollWidth: document.documentElement.scrollWidth, clientWidth: document.documentElement.clientWidth,
          nameBottom: row.querySelector('.name').getBoundingClientRect().bottom, canvasTop: row.querySelector('canvas').getBoundingClientRect().top,
          canvasRight: row.querySelector('canvas').getBoundingClientRect().right, columnWidth: Number(row.dataset.width),
          canvasPixels: row.querySelector('canvas').width, buttonHeight: document.querySelector('#dpi-1').getBoundingClientRect().height,
        };
      });
      assert.equal(layout.innerWidth, viewport.width, 'the viewport meta tag sets the layout width');
      assert.ok(layout.scrollWidth <= layout.clientWidth, `no horizontal scroll: ${layout.scrollWidth} > ${layout.clientWidth}`);
      assert.ok(layout.nameBottom <= layout.canvasTop, 'the name stacks above the preview');
      assert.equal(layout.columnWidth, viewport.width - 32);
      assert.ok(layout.canvasRight <= viewport.width);
      assert.equal(layout.canvasPixels, layout.columnWidth * 3, 'the device pixel density is used');
      assert.ok(layout.buttonHeight >= 24, 'buttons are big enough to touch');
      await axe(page, name);
      await page.screenshot({ path: join(buildDir, `serve-${name.replace(' ', '')}.png`) });
      await page.close();
    });
  }
});

test('search by family or style name, styles grouped under their family', { timeout: 120000 }, async () => {
  const page = await open(desktop);
  const families = await page.evaluate(() => Number(document.body.dataset.shown));
  await page.type('#search', 'dejavu sans mono');
  await page.waitForFunction(() => document.body.dataset.shown === '1');
  let rows = await settled(page);
  assert.deepEqual(rows.map((r) => [r.family, r.style]), [['DejaVu Sans Mono', 'Regular']]);
  await page.click('.row .styles');
  await page.waitForFunction(() => document.body.dataset.shown === '4');
  rows = await settled(page, { min: 4 });
  assert.deepEqual(rows.map((r) => r.style).sort(), ['Bold', 'Bold Oblique', 'Oblique', 'Regular']);
  await page.click('#search', { clickCount: 3 });
  await page.type('#search', 'bold oblique');
  await page.waitForFunction(() => document.body.dataset.shown !== '4');
  rows = await settled(page);
  assert.ok(rows.length > 1 && rows.every((r) => /bold ?oblique/i.test(`${r.family} ${r.style}`)), rows.map((r) => r.style).join());
  await page.click('#search', { clickCount: 3 });
  await page.keyboard.press('Backspace');
  await page.waitForFunction((n) => Number(document.body.dataset.shown) >= n, {}, families);
  await page.close();
});

test('coverage filter: Devanagari, emoji with selectors and modifiers, emoji among letters', { timeout: 120000 }, async (t) => {
  const page = await open(desktop, '?covers=1');
  const cases = [
    ['Devanagari', 'नमस्ते दुनिया', (rows) => rows.every((r) => /Devanagari/.test(r.family)) && rows.some((r) => r.family === 'Noto Sans Devanagari')],
    ['emoji with a variation selector and a skin tone', '❤️👍🏽', (rows) => rows.some((r) => r.family === 'Noto Color Emoji')],
    ['emoji among letters', 'I ❤️ fonts', (rows) => rows.some((r) => r.family === 'DejaVu Sans')],
  ];
  for (const [name, text, expect] of cases) {
    await t.test(name, async () => {
      await setText(page, text);
      await page.waitForFunction((text) => document.getElementById('text').value === text && Number(document.body.dataset.shown) < 50, {}, text);
      const rows = await settled(page);
      assert.ok(rows.length > 0 && expect(rows), rows.map((r) => r.family).join());
      for (const row of rows) {
        assert.equal(row.text, text, `${row.family} shows the typed text`);
        assert.equal(row.sample, '');
        assert.ok(row.ink > 0, `${row.family} has ink`);
      }
      const emoji = rows.find((r) => r.family === 'Noto Color Emoji');
      if (emoji) assert.match(emoji.note, /colour glyphs drawn as coverage/);
    });
  }
  await page.screenshot({ path: join(buildDir, 'serve-coverage.png') });
  await page.waitForFunction(() => new URLSearchParams(location.search).get('text') === 'I ❤️ fonts');
  // The filter and the text survive a reload through the address.
  await page.reload();
  await page.waitForFunction(() => document.body.dataset.shown !== undefined);
  assert.deepEqual(await page.evaluate(() => [document.getElementById('text').value, document.getElementById('covers').checked]), ['I ❤️ fonts', true]);
  await page.close();
});

test('keyboard: rows reachable with a visible focus, the per-font view, an axis slider redraws', { timeout: 120000 }, async () => {
  const page = await open(desktop, '?size=40');
  await page.focus('#kind');
  await page.keyboard.press('Tab');
  const first = await page.evaluate(() => [document.activeElement.className, document.activeElement.dataset.id, getComputedStyle(document.activeElement).outlineStyle]);
  assert.equal(first[0], 'row');
  assert.notEqual(first[2], 'none', 'the focused row shows its focus');
  await page.keyboard.press('ArrowDown');
  await page.keyboard.press('ArrowDown');
  const third = await page.evaluate(() => document.activeElement.getAttribute('aria-posinset'));
  assert.equal(third, '3');
  await page.keyboard.press('End');
  const last = await page.evaluate(() => [document.activeElement.getAttribute('aria-posinset'), document.activeElement.getAttribute('aria-setsize'), window.fontPage.rowsInDocument]);
  assert.equal(last[0], last[1], 'End reaches the last row');
  assert.ok(last[2] < 60, `only rows near the view are in the document (${last[2]})`);
  await settled(page);
  await page.keyboard.press('Home');

  // The per-font view of a variable font, opened with Enter.
  await page.type('#search', 'Inter');
  await page.waitForFunction(() => document.body.dataset.shown === '2');
  await page.focus('.row[aria-posinset="1"]');
  await page.keyboard.press('Enter');
  await page.waitForFunction(() => !document.getElementById('detail').hidden && document.querySelector('#axes input'));
  const weights = async () => {
    await page.waitForFunction(() => [...document.querySelectorAll('#waterfall .step')].every((s) => s.dataset.version === document.body.dataset.detailVersion), { timeout: 30000, polling: 'raf' });
    return page.evaluate(() => [...document.querySelectorAll('#waterfall canvas')].map((c) => {
      const data = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
      let ink = 0;
      for (let i = 3; i < data.length; i += 4) ink += data[i];
      return ink;
    }));
  };
  const regular = await weights();
  assert.ok(regular.every((ink) => ink > 0) && regular.length >= 6, 'a waterfall of sizes');
  assert.ok(regular.at(-1) > regular[0], 'larger sizes carry more ink');
  const facts = await page.$eval('#facts', (e) => e.textContent);
  assert.match(facts, /Inter-roman\.var\.ttf|Inter\.var\.ttf/);
  await axe(page, 'per-font view');
  await page.focus('#axes input[data-tag="wght"]');
  await page.keyboard.press('End');
  const black = await weights();
  assert.equal(await page.$eval('#axes output', (e) => e.textContent), '900');
  assert.ok(black.every((ink, i) => ink > regular[i] * 1.3), `weight 900 draws darker: ${black} against ${regular}`);
  await page.screenshot({ path: join(buildDir, 'serve-detail.png') });
  assert.match(await page.evaluate(() => location.search), /font=/);
  await page.keyboard.press('Escape');
  await page.waitForFunction(() => document.getElementById('detail').hidden && document.activeElement.classList.contains('row'));
  await page.close();
});

test('empty text shows each font’s own sample; the counter shows the limit', { timeout: 120000 }, async () => {
  const page = await open(desktop);
  await setText(page, '');
  const rows = await settled(page, { min: 5 });
  for (const row of rows) {
    assert.ok(row.sample && row.text, `${row.family} shows its ${row.sample} sample`);
    assert.ok(row.ink > 0);
  }
  await page.focus('#text');
  await page.evaluate(() => {
    const data = new DataTransfer();
    data.setData('text/plain', 'x'.repeat(250));
    const field = document.getElementById('text');
    // A synthetic paste event inserts nothing: the insertion follows as the browser would make it.
    if (field.dispatchEvent(new ClipboardEvent('paste', { clipboardData: data, bubbles: true, cancelable: true }))) document.execCommand('insertText', false, data.getData('text/plain'));
  });
  const counter = await page.evaluate(() => [document.getElementById('text').value.length, document.getElementById('counter').textContent, document.getElementById('counter').hasAttribute('data-full')]);
  assert.equal(counter[0], 200);
  assert.match(counter[1], /^200\/200 · Pasted text cut to 200 characters$/);
  assert.equal(counter[2], true);
  await page.close();
});

test('20 000 fonts: the first screen, a small document, search by name', { timeout: 300000 }, async () => {
  const installed = await listInstalledFonts();
  const fonts = Array.from({ length: 20000 }, (_, i) => {
    const base = installed[i % installed.length];
    const family = `${base.family} ${String(i).padStart(5, '0')}`;
    return { ...base, family, descriptor: { ...base.descriptor, fontId: `f${i}` } };
  });
  const big = await startServer({ workers: 2, fonts });
  try {
    const page = await open(desktop, '', { url: big.url });
    await settled(page, { min: 5 });
    const figures = await page.evaluate(() => ({ first: Number(document.body.dataset.firstScreen), rows: document.querySelectorAll('.row').length, canvases: document.querySelectorAll('canvas').length, shown: Number(document.body.dataset.shown) }));
    console.log(`first screen, 20 000 fonts: ${figures.first} ms after navigation; ${figures.rows} rows in the document`);
    assert.equal(figures.shown, 20000);
    assert.ok(figures.canvases < 80, `${figures.canvases} canvases for 20 000 fonts`);
    await page.keyboard.press('End');
    await page.evaluate(() => window.scrollTo(0, document.body.scrollHeight));
    const bottom = await settled(page);
    assert.ok(bottom.some((r) => r.family.endsWith('19999')), 'the last font is reachable');
    assert.ok(await page.evaluate(() => document.querySelectorAll('canvas').length) < 80);
    await page.type('#search', '12345');
    await page.waitForFunction(() => document.body.dataset.shown === '1');
    const found = await settled(page);
    assert.deepEqual(found.map((r) => r.family.slice(-5)), ['12345']);
    await page.close();
  } finally {
    await big.close();
  }
});

test('a server that goes away: a banner, retries that back off, recovery', { timeout: 120000 }, async () => {
  const own = await startServer({ workers: 1 });
  const port = new URL(own.url).port;
  const page = await open(desktop, '', { url: own.url });
  let attempts = 0;
  page.on('request', (r) => r.url().includes('/render?') && attempts++);
  await own.close();
  await setText(page, 'offline');
  await page.waitForFunction(() => !document.getElementById('banner').hidden, { timeout: 20000 });
  assert.match(await page.$eval('#banner', (e) => e.textContent), /not answering; trying again in \d+ s/);
  // Counted from the banner: the keystrokes' own requests before the first failure are not retries.
  attempts = 0;
  await new Promise((resolve) => setTimeout(resolve, 3500));
  assert.ok(attempts <= 3, `${attempts} attempts in about 3.5 s`);
  const again = await startServer({ workers: 1, port: Number(port) });
  try {
    await page.waitForFunction(() => document.getElementById('banner').hidden, { timeout: 60000 });
    const rows = await settled(page);
    assert.ok(rows.every((r) => r.text === 'offline' || r.sample));
  } finally {
    await page.close();
    await again.close();
  }
});

// The page as it was before it became a font browser (fixed 480 px previews, every row in the
// document), with its own server and client, on the current renderer: the baseline the typing
// figures are compared with in the same run.
const kBaselineCommit = 'fb7e7fd';

async function startBaseline() {
  const root = fileURLToPath(new URL('../../../', import.meta.url));
  const dir = mkdtempSync(join(tmpdir(), 'kfp-old-page-'));
  try {
    const archive = execFileSync('git', ['-C', root, 'archive', kBaselineCommit, 'tools/serve', 'clients/node'], { maxBuffer: 64 * 1024 * 1024 });
    execFileSync('tar', ['-x', '-C', dir], { input: archive });
    const { startServer: startOld } = await import(join(dir, 'tools/serve/server.js'));
    const old = await startOld({ workers: 2, rendererPath: defaultRendererPath() });
    return { ...old, close: async () => (await old.close(), rmSync(dir, { recursive: true, force: true })) };
  } catch (error) {
    rmSync(dir, { recursive: true, force: true });
    return { error };
  }
}

test('typing latency and first screen, measured in the page, beside the old page', { timeout: 300000 }, async (t) => {
  const baseline = await startBaseline();
  if (baseline.error) t.diagnostic(`the old page could not be started (${baseline.error.message.split('\n')[0]}): figures of this page only`);
  const pages = [{ name: 'this page', url: server.url }];
  if (!baseline.error) pages.push({ name: `old page (${kBaselineCommit}), wrap 480 px`, url: baseline.url });
  // Each round types the sentence after another first letter: no preview of it is drawn already.
  const sentence = 'ack my box with five dozen liquor jugs.';
  const rounds = ['P', 'B'];
  const open = async (url, viewport) => {
    const page = await browser.newPage();
    await page.setViewport(viewport);
    await installLatencyProbe(page);
    await page.goto(url);
    const first = await firstScreen(page);
    // Once unmeasured, so that no page pays for its renderers' first sight of these glyphs.
    await typeAndMeasure(page, 'Sphinx of black quartz, judge my vow; pack five dozen boxes.', { perSecond: 0 });
    return { page, first };
  };
  // The viewport at which this page wraps at 480 px, as the old page always did.
  const probe = await browser.newPage();
  await probe.setViewport(desktop);
  await probe.goto(server.url);
  const chrome = await probe.evaluate(() => innerWidth - document.getElementById('fonts').clientWidth);
  await probe.close();
  const narrow = { ...desktop, width: 480 + 260 + 48 + chrome };
  try {
    for (const [name, viewport] of [[`${narrow.width}×${narrow.height}`, narrow], ['1280×900', desktop]]) {
      for (const p of pages) Object.assign(p, await open(p.url, viewport), { latencies: [] });
      // The pages take turns, in one order then the other, so that a busy moment of the machine
      // falls on both.
      for (const [round, letter] of rounds.entries()) {
        for (const p of round % 2 ? [...pages].reverse() : pages) {
          await p.page.bringToFront();
          const latencies = await typeAndMeasure(p.page, letter + sentence, { perSecond: 8 });
          assert.equal(latencies.length, sentence.length + 1, 'every keystroke was seen and finished');
          p.latencies.push(...latencies);
        }
      }
      const wrap = await pages[0].page.evaluate(() => Number(document.querySelector('.row[data-width]').dataset.width));
      if (viewport === narrow) assert.equal(wrap, 480, 'the same wrap width as the old page');
      console.log(`typing at 8 chars/s, keystroke to all visible previews painted, ${name}, this page wrapping at ${wrap} px:`);
      for (const p of pages) {
        Object.assign(p, { p50: percentile(p.latencies, 50), p95: percentile(p.latencies, 95) });
        console.log(`  ${p.name}: p50 ${p.p50.toFixed(0)} ms, p95 ${p.p95.toFixed(0)} ms over ${p.latencies.length} keystrokes; first screen ${p.first.toFixed(0)} ms`);
        await p.page.close();
      }
      if (pages.length > 1) console.log(`  ratio this/old: p50 ${(pages[0].p50 / pages[1].p50).toFixed(2)}, p95 ${(pages[0].p95 / pages[1].p95).toFixed(2)}`);
    }
  } finally {
    if (!baseline.error) await baseline.close();
  }
});
