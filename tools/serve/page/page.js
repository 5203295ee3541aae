// The font list: visible rows are rendered first, the rest as they scroll into view. Every
// change of text, size or density starts a new version; replies of older versions are ignored,
// so a preview of an older text never overwrites a newer one.

const session = Math.random().toString(36).slice(2);
const previewWidth = 480; // DIPs
const state = { version: 1, text: '', size: 28, dpi: 1 };
const inflight = new Map(); // AbortController -> version
const visible = new Set();
let scheduled = false;

const $ = (id) => document.getElementById(id);
const rows = new Map();

async function main() {
  const fonts = await (await fetch('/fonts')).json();
  const list = $('fonts');
  const observer = new IntersectionObserver(
    (entries) => {
      for (const e of entries) (e.isIntersecting ? visible.add(e.target) : visible.delete(e.target));
      schedule();
    },
    { rootMargin: '100px 0px' },
  );
  for (const font of fonts) {
    const row = document.createElement('div');
    row.className = 'row';
    row.dataset.id = font.id;
    row.dataset.state = 'empty';
    row.innerHTML = '<div class="name"></div><div class="preview"><canvas width="0" height="0"></canvas><div class="error"></div></div>';
    row.querySelector('.name').innerHTML = `<b></b> <span class="style"></span><span class="sample"></span>`;
    row.querySelector('b').textContent = font.family;
    row.querySelector('.style').textContent = font.style;
    list.append(row);
    rows.set(font.id, row);
    observer.observe(row);
  }
  $('text').addEventListener('input', changed);
  $('size').addEventListener('input', changed);
  for (const b of document.querySelectorAll('.dpi button')) {
    b.addEventListener('click', () => {
      for (const other of document.querySelectorAll('.dpi button')) other.setAttribute('aria-pressed', String(other === b));
      changed();
    });
  }
  document.body.dataset.fontCount = fonts.length;
  changed();
}

function changed() {
  state.text = $('text').value;
  state.size = Number($('size').value);
  state.dpi = Number(document.querySelector('.dpi button[aria-pressed="true"]').dataset.dpi);
  $('size-value').textContent = state.size;
  state.version++;
  document.body.dataset.version = state.version;
  for (const [controller, version] of inflight) if (version < state.version) controller.abort();
  for (const row of rows.values()) if (row.dataset.state !== 'empty') row.dataset.state = 'pending';
  schedule();
}

function schedule() {
  if (scheduled) return;
  scheduled = true;
  requestAnimationFrame(() => {
    scheduled = false;
    const wanted = [...visible].filter((row) => Number(row.dataset.requested) !== state.version);
    if (wanted.length) request(wanted);
    status();
  });
}

async function request(wanted) {
  const version = state.version;
  for (const row of wanted) row.dataset.requested = version;
  const controller = new AbortController();
  inflight.set(controller, version);
  const query = new URLSearchParams({
    session, version, text: state.text, size: state.size, dpi: state.dpi, width: previewWidth,
    ids: wanted.map((row) => row.dataset.id).join(','),
  });
  try {
    const response = await fetch(`/render?${query}`, { signal: controller.signal });
    if (!response.ok) throw new Error(`HTTP ${response.status}`);
    await readRecords(response.body.getReader(), draw);
  } catch (error) {
    // Rows of the current version that got no answer are asked for again.
    if (error.name !== 'AbortError' && version === state.version) {
      for (const row of wanted) if (row.dataset.version !== String(version)) delete row.dataset.requested;
      setTimeout(schedule, 200);
    }
  } finally {
    inflight.delete(controller);
    status();
  }
}

// Records: u32 LE JSON length, JSON, u32 LE payload length, payload.
async function readRecords(reader, onRecord) {
  let buffer = new Uint8Array(0);
  const decoder = new TextDecoder();
  for (;;) {
    const { value, done } = await reader.read();
    if (done) return;
    const joined = new Uint8Array(buffer.length + value.length);
    joined.set(buffer);
    joined.set(value, buffer.length);
    buffer = joined;
    let at = 0;
    for (;;) {
      const view = new DataView(buffer.buffer, buffer.byteOffset);
      if (buffer.length - at < 4) break;
      const jsonLength = view.getUint32(at, true);
      if (buffer.length - at < 8 + jsonLength) break;
      const payloadLength = view.getUint32(at + 4 + jsonLength, true);
      const end = at + 8 + jsonLength + payloadLength;
      if (buffer.length < end) break;
      const json = JSON.parse(decoder.decode(buffer.subarray(at + 4, at + 4 + jsonLength)));
      onRecord(json, buffer.subarray(at + 8 + jsonLength, end));
      at = end;
    }
    buffer = buffer.slice(at);
  }
}

function draw(r, payload) {
  const row = rows.get(r.fontId);
  if (!row || r.version !== state.version) return; // an older text: never over a newer one
  const canvas = row.querySelector('canvas');
  row.querySelector('.sample').textContent = r.sample ? `${r.sample} sample` : '';
  row.dataset.version = r.version;
  row.dataset.text = r.text;
  row.dataset.sample = r.sample;
  if (r.error) {
    canvas.width = canvas.height = 0;
    row.querySelector('.error').textContent = r.error;
    row.dataset.state = 'error';
    return;
  }
  row.querySelector('.error').textContent = '';
  canvas.width = r.width;
  canvas.height = r.height;
  canvas.style.width = `${r.width / r.dpi}px`;
  canvas.style.height = `${r.height / r.dpi}px`;
  if (r.width && r.height) {
    const image = new ImageData(r.width, r.height);
    for (let i = 0; i < payload.length; i++) {
      image.data[i * 4 + 3] = payload[i]; // black ink, coverage as alpha
    }
    canvas.getContext('2d').putImageData(image, 0, 0);
  }
  row.dataset.state = 'drawn';
}

function status() {
  let drawn = 0;
  for (const row of rows.values()) if (row.dataset.version === String(state.version)) drawn++;
  $('status').textContent = `${rows.size} fonts · ${drawn} drawn${inflight.size ? ' · rendering…' : ''}`;
}

main();
