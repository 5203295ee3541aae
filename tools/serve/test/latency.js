// Typing latency and first-screen time measured inside the page, not through the driver's round
// trips: a script installed before the page's own records when each keystroke happened, hooks the
// canvas drawing calls, and on every frame checks whether all rows in view show that keystroke's
// version, drawn after it. A keystroke is done at the first frame that shows it (or a later one),
// timed just after that frame. Works on any version of the page that marks its rows with
// data-version and data-state and bumps body's data-version in its input handler.

// Runs in the page, before its scripts.
function probe() {
  const drawnAt = new WeakMap(); // canvas -> performance.now() of its last drawing
  const hook = (proto, name) => {
    const original = proto?.[name];
    if (!original) return;
    proto[name] = function (...args) {
      drawnAt.set(this.canvas, performance.now());
      return original.apply(this, args);
    };
  };
  hook(window.CanvasRenderingContext2D?.prototype, 'putImageData');
  hook(window.CanvasRenderingContext2D?.prototype, 'drawImage');
  hook(window.ImageBitmapRenderingContext?.prototype, 'transferFromImageBitmap');

  const state = { keys: [], done: [], firstScreen: 0, frames: 0 };
  window.__latency = state;
  let keyAt = 0;
  addEventListener('keydown', (e) => e.target.id === 'text' && (keyAt = e.timeStamp), true);
  // Bubbling to the window: the page's own handler on the field has run, and named the version.
  addEventListener('input', (e) => {
    if (e.target.id !== 'text') return;
    state.keys.push({ at: keyAt || e.timeStamp, version: Number(document.body.dataset.version), text: e.target.value });
    keyAt = 0;
    watch();
  });

  // What the rows in view show: the oldest version, whether all are finished, the oldest drawing.
  const view = () => {
    const header = document.querySelector('header');
    const top = header ? Math.max(0, header.getBoundingClientRect().bottom) : 0;
    let rows = 0;
    let version = Infinity;
    let settled = true;
    let oldest = Infinity;
    for (const row of document.querySelectorAll('.row')) {
      const box = row.getBoundingClientRect();
      if (box.bottom <= top || box.top >= innerHeight || !box.height) continue;
      rows++;
      version = Math.min(version, Number(row.dataset.version ?? 0));
      if (row.dataset.state !== 'drawn' && row.dataset.state !== 'error') settled = false;
      const canvas = row.querySelector('canvas');
      if (row.dataset.state === 'drawn' && canvas?.width && canvas.height) oldest = Math.min(oldest, drawnAt.get(canvas) ?? 0);
    }
    return { rows, version, settled, oldest };
  };

  // Timed after the frame is produced: a task posted from the frame's callback runs after it, and
  // at the highest priority, before the page's other queued work (more records, heights).
  let after = [];
  const channel = new MessageChannel();
  const afterFrame = () => {
    const now = performance.now();
    for (const fn of after) fn(now);
    after = [];
  };
  channel.port1.onmessage = afterFrame;
  const post = window.scheduler?.postTask ? () => scheduler.postTask(afterFrame, { priority: 'user-blocking' }) : () => channel.port2.postMessage(0);
  let watching = false;
  let firstSeen = false;
  function frame() {
    state.frames++;
    const v = view();
    const pending = state.keys.filter((k) => !k.shown);
    const ready = v.rows > 0 && v.settled;
    const shown = pending.filter((k) => ready && v.version >= k.version && v.oldest >= k.at);
    const first = !firstSeen && ready && v.version >= Number(document.body.dataset.version);
    if (shown.length || first) {
      for (const k of shown) k.shown = true;
      firstSeen ||= first;
      after.push((now) => {
        for (const k of shown) k.done = now;
        if (first) state.firstScreen = now;
      });
      post();
    }
    if (pending.length > shown.length || !firstSeen) requestAnimationFrame(frame);
    else watching = false;
  }
  function watch() {
    if (watching) return;
    watching = true;
    requestAnimationFrame(frame);
  }
  if (document.readyState === 'loading') addEventListener('DOMContentLoaded', watch);
  else watch();
}

export async function installLatencyProbe(page) {
  await page.evaluateOnNewDocument(`(${probe})()`);
}

export const percentile = (values, p) => {
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[Math.min(sorted.length - 1, Math.max(0, Math.ceil((p / 100) * sorted.length) - 1))];
};

// First-screen time of a page opened with the probe installed: ms after navigation.
export async function firstScreen(page) {
  await page.waitForFunction(() => window.__latency?.firstScreen > 0, { timeout: 30000 });
  return page.evaluate(() => window.__latency.firstScreen);
}

// Types `text` into the preview field at `perSecond` keystrokes a second on a fixed schedule (a
// slow keystroke does not push the later ones back), or as fast as it can at 0, and returns each
// keystroke's latency in ms.
export async function typeAndMeasure(page, text, { perSecond = 8 } = {}) {
  await page.click('#text', { clickCount: 3 });
  await page.keyboard.press('Backspace');
  await page.waitForFunction(() => window.__latency.keys.every((k) => k.done), { timeout: 30000 });
  await page.evaluate(() => (window.__latency.keys = []));
  const start = performance.now();
  const chars = [...text];
  for (let i = 0; i < chars.length; i++) {
    const wait = perSecond ? start + (i * 1000) / perSecond - performance.now() : 0;
    if (wait > 0) await new Promise((resolve) => setTimeout(resolve, wait));
    await page.keyboard.type(chars[i]);
  }
  await page.waitForFunction((n) => window.__latency.keys.length === n && window.__latency.keys.every((k) => k.done), { timeout: 30000 }, chars.length);
  return page.evaluate(() => window.__latency.keys.map((k) => k.done - k.at));
}
