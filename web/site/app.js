// The page: the desktop window's picture box, view menu, file list and save
// buttons, with the decoding and converting done in a Worker.
const $ = (id) => document.getElementById(id);
const Pic = $('Pic');
let canvas = $('PicCanvas');
const m_VIEW = $('m_VIEW');
const File = $('File');
const txt = $('txt');
const btnSave = $('btnSave');
const btnSavePng = $('btnSavePng');
const btnZip = $('btnZip');
const btnToFolder = $('btnToFolder');
const btnCancel = $('btnCancel');
const progress = $('progress');
const progressText = $('progressText');
const reasonLine = $('reason');

const ViewActualSize = 0;
const ViewStandard = 1;

// ---- the Worker: one reply per request, matched by id -------------------
const worker = new Worker(new URL('./worker.js', import.meta.url), { type: 'module' });
const waiting = new Map();
let nextId = 1;
worker.onmessage = ({ data }) => {
  const done = waiting.get(data.id);
  waiting.delete(data.id);
  if (done) done(data);
};
function ask(op, fields = {}, transfer = []) {
  const id = nextId++;
  return new Promise((resolve) => {
    waiting.set(id, resolve);
    worker.postMessage({ id, op, ...fields }, transfer);
  });
}

// Where the browser can, the Worker paints the canvas itself: the picture
// goes from its decoder onto the canvas with no copy for the page. Where it
// cannot after all, a fresh canvas takes the handed-over one's place.
let canvasReady = false;
const canvasHandedOver = (async () => {
  if (typeof canvas.transferControlToOffscreen !== 'function') return;
  const offscreen = canvas.transferControlToOffscreen();
  const reply = await ask('canvas', { canvas: offscreen }, [offscreen]);
  if (reply.painting !== true) {
    const fresh = canvas.cloneNode();
    canvas.replaceWith(fresh);
    canvas = fresh;
  }
})().finally(() => { canvasReady = true; });

// ---- the list -------------------------------------------------------------
// Each entry: { name, folder (path parts), path, getFile() }; getFile gives
// the File itself where it is at hand, else a promise of it.
let entries = [];

// The desktop list's order: letter case ignored, equal names in a fixed order.
function nameCompare(a, b) {
  const la = a.toLowerCase();
  const lb = b.toLowerCase();
  if (la !== lb) return la < lb ? -1 : 1;
  return a < b ? -1 : a > b ? 1 : 0;
}
function entryCompare(a, b) {
  const n = Math.min(a.folder.length, b.folder.length);
  for (let i = 0; i < n; i++) {
    const c = nameCompare(a.folder[i], b.folder[i]);
    if (c !== 0) return c;
  }
  if (a.folder.length !== b.folder.length) return a.folder.length - b.folder.length;
  return nameCompare(a.name, b.name);
}

const isPdt = (name) => name.length >= 3 && name.slice(-3).toLowerCase() === 'pdt';

function makeEntry(folder, name, getFile) {
  return { name, folder, path: [...folder, name].join('/'), getFile };
}

function setEntries(found) {
  entries = found.filter((e) => isPdt(e.name)).sort(entryCompare);
  btnZip.disabled = btnToFolder.disabled = entries.length === 0;
  if (entries.length === 0) {
    File.replaceChildren();
    say(found.length ? 'PDT ファイルがありません。' : 'ファイルがありません。', true);
    return;
  }
  say(`${entries.length} 個の PDT ファイル`);
  // The first picture is asked for before the list is built.
  wanted = 0;
  if (!showing) SelectFile();
  File.replaceChildren(...entries.map((e) => new Option(e.path)));
  File.selectedIndex = 0;
  File.focus();
}

function say(text, error = false) {
  reasonLine.textContent = text;
  reasonLine.classList.toggle('error', error);
}

// ---- opening: picker, folder picker, drop, launch ---------------------------
const pickFiles = $('pickFiles');
const pickFolder = $('pickFolder');

$('btnOpenFiles').onclick = () => pickFiles.click();
pickFiles.onchange = () => {
  setEntries([...pickFiles.files].map((f) => makeEntry([], f.name, () => f)));
  pickFiles.value = '';
};

$('btnOpenFolder').onclick = async () => {
  if (!('showDirectoryPicker' in window)) return pickFolder.click();
  let dir;
  try {
    dir = await window.showDirectoryPicker({ id: 'quillon-open' });
  } catch {
    return;  // the user closed the picker
  }
  say('読み込み中…');
  const found = [];
  await walkHandle(dir, [], found);
  setEntries(found);
};
pickFolder.onchange = () => {
  // webkitRelativePath starts with the chosen folder's own name.
  setEntries([...pickFolder.files].map((f) => {
    const parts = (f.webkitRelativePath || f.name).split('/');
    return makeEntry(parts.slice(1, -1), f.name, () => f);
  }));
  pickFolder.value = '';
};

async function walkHandle(dir, folder, found) {
  for await (const handle of dir.values()) {
    if (handle.kind === 'directory') await walkHandle(handle, [...folder, handle.name], found);
    else found.push(makeEntry(folder, handle.name, () => handle.getFile()));
  }
}

// A dropped folder's reader gives at most 100 entries a call: read until empty.
async function walkEntry(entry, folder, found) {
  if (entry.isFile) {
    found.push(makeEntry(folder, entry.name, () => new Promise((ok, fail) => entry.file(ok, fail))));
    return;
  }
  const reader = entry.createReader();
  for (;;) {
    const batch = await new Promise((ok, fail) => reader.readEntries(ok, fail));
    if (batch.length === 0) break;
    for (const child of batch) await walkEntry(child, [...folder, entry.name], found);
  }
}

document.addEventListener('dragover', (e) => {
  e.preventDefault();
  document.body.classList.add('dragging');
});
document.addEventListener('dragleave', (e) => {
  if (!e.relatedTarget) document.body.classList.remove('dragging');
});
document.addEventListener('drop', async (e) => {
  e.preventDefault();
  document.body.classList.remove('dragging');
  // Entries must be taken during the event; reading them may come later.
  const items = [...(e.dataTransfer.items || [])].filter((i) => i.kind === 'file');
  const taken = items.map((i) => ({ entry: i.webkitGetAsEntry?.(), file: i.getAsFile() }));
  const found = [];
  for (const { entry, file } of taken) {
    if (entry && entry.isDirectory) await walkEntry(entry, [], found);
    else if (file) found.push(makeEntry([], file.name, () => file));
  }
  // A dropped folder is listed from inside it, as if it had been opened.
  const single = taken.length === 1 && taken[0].entry?.isDirectory;
  setEntries(single ? found.map((f) => makeEntry(f.folder.slice(1), f.name, f.getFile)) : found);
});

if ('launchQueue' in window) {
  window.launchQueue.setConsumer((params) => {
    if (!params.files?.length) return;
    setEntries(params.files.map((h) => makeEntry([], h.name, () => h.getFile())));
  });
}

// ---- selecting and showing ------------------------------------------------
let held = null;       // { width, height } of the picture on the canvas
let checkedView = ViewStandard;
let showing = false;   // a decode is under way
let wanted = -1;       // the entry to show once it is done
let lastPaint = null;  // timings of the latest picture painted

function File_Click() {
  wanted = File.selectedIndex;
  if (!showing) SelectFile();
}

async function SelectFile() {
  const index = wanted;
  const entry = entries[index];
  if (!entry) return;
  showing = true;
  // Nothing is saved while the held picture is being replaced.
  btnSave.disabled = btnSavePng.disabled = true;
  const started = performance.now();
  let reply;
  try {
    // Asked at once where nothing is awaited: the Worker starts reading the
    // file while the page goes on with its own work.
    if (!canvasReady) await canvasHandedOver;
    const got = entry.getFile();
    const file = got instanceof Blob ? got : await got;
    reply = await ask('show', { file, bitmap: showsBitmaps });
  } catch (e) {
    reply = { reason: `cannot read the file (${e.message || e})` };
  }
  showing = false;
  const replied = performance.now();
  if (wanted !== index) {  // another entry was chosen meanwhile
    reply.bitmap?.close();
    return SelectFile();
  }
  if (reply.reason) {
    // No picture is held and nothing can be saved; the last drawing stays,
    // and the line says why this one is not shown.
    held = null;
    btnSave.disabled = btnSavePng.disabled = true;
    say(`${entry.name}: ${reply.reason}`, true);
    Pic.dataset.settled = String(index);
    return;
  }
  held = { width: reply.width, height: reply.height };
  await DrawPicture(reply);
  txt.value = entry.name.slice(0, -3) + 'bmp';
  Pic.title = entry.name;
  btnSave.disabled = btnSavePng.disabled = false;
  say(`${entry.path}  ${reply.width} × ${reply.height}`);
  // A picture the page drew itself is painted when its next frame begins;
  // one the Worker painted, when the Worker says.
  if (reply.paintedAt === undefined) await new Promise(requestAnimationFrame);
  const paintedAt = reply.paintedAt === undefined ? performance.now() : reply.paintedAt - performance.timeOrigin;
  const { readMs, decodeMs, paintMs } = reply;
  lastPaint = { readMs, decodeMs, paintMs, selectedAt: started, repliedAt: replied, paintedAt };
  Pic.dataset.painted = Pic.dataset.settled = String(index);
}

// The whole picture goes onto the canvas at its own size; the canvas's size
// on the page is the view. The view itself only changes from the menu.
// Unless the Worker has painted it already, an ImageBitmap from the Worker is
// shown as it is, without a copy; else the pixels are put on a 2D canvas.
const showsBitmaps = typeof createImageBitmap === 'function' && 'ImageBitmapRenderingContext' in window;
async function DrawPicture(reply) {
  if (reply.paintedAt !== undefined) return;
  canvas.width = reply.width;
  canvas.height = reply.height;
  if (!showsBitmaps) {
    canvas.getContext('2d').putImageData(new ImageData(reply.rgba, reply.width, reply.height), 0, 0);
    return;
  }
  const bitmap = reply.bitmap || await createImageBitmap(new ImageData(reply.rgba, reply.width, reply.height));
  canvas.getContext('bitmaprenderer').transferFromImageBitmap(bitmap);
}

function ShowPicture(mode) {
  if (!held) return;
  checkedView = mode;
  for (const li of m_VIEW.children) li.setAttribute('aria-checked', String(Number(li.dataset.index) === mode));
  if (mode === ViewActualSize) {
    // One picture pixel per device pixel.
    const ratio = window.devicePixelRatio || 1;
    canvas.style.width = `${held.width / ratio}px`;
    canvas.style.height = `${held.height / ratio}px`;
    Pic.classList.add('actual');
  } else {
    canvas.style.width = '320px';
    canvas.style.height = '240px';
    Pic.classList.remove('actual');
  }
}

File.addEventListener('change', File_Click);
// The arrow keys move through the list from anywhere on the page but a field.
document.addEventListener('keydown', (e) => {
  if ((e.key !== 'ArrowDown' && e.key !== 'ArrowUp') || e.altKey || e.ctrlKey || e.metaKey) return;
  if (e.target.closest('input, select, textarea, #m_VIEW') || entries.length === 0) return;
  const to = Math.max(0, Math.min(entries.length - 1, File.selectedIndex + (e.key === 'ArrowDown' ? 1 : -1)));
  e.preventDefault();
  if (to === File.selectedIndex) return;
  File.selectedIndex = to;
  File_Click();
});
// A click on the selected entry shows it again, as on the desktop.
File.addEventListener('click', (e) => { if (e.target.tagName === 'OPTION') File_Click(); });

// ---- the view menu --------------------------------------------------------
function openMenu(x, y) {
  m_VIEW.hidden = false;
  const box = m_VIEW.getBoundingClientRect();
  m_VIEW.style.left = `${Math.min(x, window.innerWidth - box.width)}px`;
  m_VIEW.style.top = `${Math.min(y, window.innerHeight - box.height)}px`;
  m_VIEW.children[checkedView].focus();
}
function closeMenu() {
  if (m_VIEW.hidden) return;
  m_VIEW.hidden = true;
  Pic.focus();
}
function m_PIC_Click(index) {
  closeMenu();
  ShowPicture(index);
}

Pic.addEventListener('contextmenu', (e) => {
  e.preventDefault();
  let { clientX: x, clientY: y } = e;
  if (e.button !== 2 || (x === 0 && y === 0)) {  // the context-menu key
    const r = Pic.getBoundingClientRect();
    x = r.left + 8;
    y = r.top + 8;
  }
  openMenu(x, y);
});
// Any click but the right one returns to the standard view.
Pic.addEventListener('mouseup', (e) => { if (e.button !== 2) ShowPicture(ViewStandard); });
Pic.addEventListener('auxclick', (e) => { if (e.button === 1) e.preventDefault(); });

m_VIEW.addEventListener('click', (e) => {
  const li = e.target.closest('li');
  if (li) m_PIC_Click(Number(li.dataset.index));
});
m_VIEW.addEventListener('keydown', (e) => {
  const items = [...m_VIEW.children];
  const at = items.indexOf(document.activeElement);
  const key = e.key.toLowerCase();
  if (key === 'arrowdown' || key === 'arrowup') {
    items[(at + (key === 'arrowdown' ? 1 : items.length - 1)) % items.length].focus();
  } else if (key === 'enter' || key === ' ') {
    if (at >= 0) m_PIC_Click(at);
  } else if (key === 'j') {
    m_PIC_Click(ViewActualSize);
  } else if (key === 'd') {
    m_PIC_Click(ViewStandard);
  } else if (key === 'escape' || key === 'tab') {
    closeMenu();
  } else {
    return;
  }
  e.preventDefault();
});
document.addEventListener('mousedown', (e) => { if (!m_VIEW.contains(e.target)) closeMenu(); });
window.addEventListener('blur', closeMenu);

// ---- saving ---------------------------------------------------------------
function download(blob, name) {
  const a = document.createElement('a');
  a.href = URL.createObjectURL(blob);
  a.download = name;
  a.click();
  setTimeout(() => URL.revokeObjectURL(a.href), 60_000);
}

function outputName() {
  if (!held) {
    alert('ファイルを作成出来ません');
    return null;
  }
  if (txt.value === '') {
    alert('ファイルを名を指定してください');
    return null;
  }
  return txt.value;
}

btnSave.onclick = async () => {
  const name = outputName();
  if (name === null) return;
  const reply = await ask('bmp');
  if (reply.reason) return say(reply.reason, true);
  download(reply.blob, name);
};

btnSavePng.onclick = async () => {
  const name = outputName();
  if (name === null) return;
  const png = /\.bmp$/i.test(name) ? name.slice(0, -3) + 'png' : `${name}.png`;
  // Encoded in the Worker (OffscreenCanvas); the page's canvas is the
  // fallback, slower in Chromium, which encodes it only when idle. Either
  // way the pixels are the picture's own, all opaque, so they come back exact.
  const reply = await ask('png');
  if (reply.blob) return download(reply.blob, png);
  canvas.toBlob((blob) => (blob ? download(blob, png) : say('PNG を作れません', true)), 'image/png');
};

// ---- converting every listed picture ------------------------------------
const format = () => document.querySelector('input[name=format]:checked').value;
const outName = (e, fmt) => [...e.folder, e.name.slice(0, -3) + fmt].join('/');
let cancelled = false;

btnCancel.onclick = () => { cancelled = true; };

function batchUi(running) {
  btnZip.disabled = btnToFolder.disabled = running || entries.length === 0;
  btnCancel.hidden = !running;
  progress.hidden = !running;
  cancelled = false;
}

function report(i, total) {
  progress.max = total;
  progress.value = i;
  progressText.textContent = `${i} / ${total}`;
}

// Runs `one(entry)` for every listed picture, with progress and cancel.
async function eachEntry(one) {
  const list = entries.slice();
  const failed = [];
  report(0, list.length);
  for (let i = 0; i < list.length && !cancelled; i++) {
    const reason = await one(list[i]);
    if (reason) failed.push(`${list[i].path}: ${reason}`);
    report(i + 1, list.length);
  }
  return failed;
}

function finish(failed, done) {
  if (cancelled) say('中止しました。', true);
  else if (failed.length) say(`${failed.length} 個を変換できません（${failed[0]}）`, true);
  else say(done);
}

// Where the ZIP's bytes go: straight into a file where the browser lets the
// page write one, else into a Blob the browser may keep on disk.
async function zipSink(name) {
  if (typeof window.showSaveFilePicker === 'function') {
    let handle;
    try {
      handle = await window.showSaveFilePicker({
        suggestedName: name, types: [{ description: 'ZIP', accept: { 'application/zip': ['.zip'] } }],
      });
    } catch {
      return null;
    }
    const stream = await handle.createWritable();
    return {
      write: async (chunks) => { for (const chunk of chunks) await stream.write(chunk); },
      close: () => stream.close(),
      abort: () => stream.abort(),
    };
  }
  let parts = [];
  return {
    write: (chunks) => { parts.push(new Blob(chunks)); },
    close: () => download(new Blob(parts, { type: 'application/zip' }), name),
    abort: () => { parts = []; },
  };
}

btnZip.onclick = async () => {
  const fmt = format();
  const sink = await zipSink(`quillon-${fmt}.zip`);
  if (!sink) return;
  batchUi(true);
  try {
    await ask('zipStart');
    const failed = await eachEntry(async (e) => {
      const reply = await ask('zipAdd', { file: await e.getFile(), name: outName(e, fmt), format: fmt });
      await sink.write(reply.chunks || []);
      return reply.reason;
    });
    if (cancelled) {
      await ask('zipCancel');
      await sink.abort();
    } else {
      const reply = await ask('zipEnd');
      await sink.write(reply.chunks || []);
      await sink.close();
    }
    finish(failed, `${entries.length - failed.length} 個を ZIP に保存しました。`);
  } catch (e) {
    await ask('zipCancel');
    await sink.abort();
    say(`ZIP を保存できません（${e.message || e}）`, true);
  } finally {
    batchUi(false);
  }
};

// Straight into a folder, where the browser can write to one. An existing
// file is replaced only after the same question the desktop asks.
if ('showDirectoryPicker' in window) {
  btnToFolder.hidden = false;
  btnToFolder.onclick = async () => {
    let root;
    try {
      root = await window.showDirectoryPicker({ id: 'quillon-save', mode: 'readwrite' });
    } catch {
      return;
    }
    const fmt = format();
    let kept = 0;  // existing files the user chose to keep
    batchUi(true);
    try {
      const failed = await eachEntry(async (e) => {
        let dir = root;
        for (const part of e.folder) dir = await dir.getDirectoryHandle(part, { create: true });
        const name = e.name.slice(0, -3) + fmt;
        const exists = await dir.getFileHandle(name).then(() => true, () => false);
        if (exists && !confirm(`${outName(e, fmt)}\n同じファイル名が存在します\r\n既存のファイルに上書きしますか？`)) {
          kept += 1;
          return null;
        }
        const reply = await ask('convert', { file: await e.getFile(), format: fmt });
        if (reply.reason) return reply.reason;
        // The browser writes to a file of its own and puts it in place on close.
        const out = await (await dir.getFileHandle(name, { create: true })).createWritable();
        await out.write(reply.blob);
        await out.close();
        return null;
      });
      const saved = entries.length - failed.length - kept;
      finish(failed, kept ? `${saved} 個を保存しました（${kept} 個は既存のまま）。` : `${saved} 個を保存しました。`);
    } catch (e) {
      say(`保存できません（${e.message || e}）`, true);
    } finally {
      batchUi(false);
    }
  };
}

// ---- offline ----------------------------------------------------------------
if ('serviceWorker' in navigator) {
  navigator.serviceWorker.register('sw.js').catch(() => {});
}

// For the page's own tests and benchmark.
window.quillon = { ask, lastPaint: () => lastPaint, entries: () => entries };
