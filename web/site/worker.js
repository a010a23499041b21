// Does the work off the page's thread: reading files, decoding, making BMP
// and PNG files and the ZIP of a batch. Messages carry an id; every request
// gets one reply with the same id.
import { loadCore } from './core.js';
import { Zip, ZipDeflate, ZipPassThrough } from './fflate.js';

let core = loadCore();
let shown = null;  // the picture on the page (its BMP and PNG are made from it)
let work = null;   // the picture a batch conversion is at
let batch = null;  // the ZIP being written: { zip, chunks, error }
let screen = null; // the page's canvas, where the browser lets it be painted here

async function pictures() {
  const { Picture } = await core;
  shown ??= new Picture();
  work ??= new Picture();
}

// Reads and decodes a file into `p`, `forCanvas` or for a BMP file; returns
// how long each step took (ms).
async function decode(file, p, forCanvas) {
  const started = performance.now();
  const bytes = new Uint8Array(await file.arrayBuffer());
  const read = performance.now();
  p.load(bytes, forCanvas);
  return { readMs: read - started, decodeMs: performance.now() - read };
}

async function pngBlob(p) {
  if (typeof OffscreenCanvas !== 'function') throw new Error('PNG needs OffscreenCanvas in a Worker');
  const canvas = new OffscreenCanvas(p.width, p.height);
  const ctx = canvas.getContext('2d', { colorSpace: 'srgb' });
  ctx.putImageData(new ImageData(p.rgbaView(), p.width, p.height), 0, 0);
  return canvas.convertToBlob({ type: 'image/png' });
}

async function convert(file, format) {
  await pictures();
  const p = work;
  await decode(file, p, format === 'png');
  if (!p.held) return { reason: p.reason };
  const blob = format === 'png' ? await pngBlob(p) : new Blob(p.bmpParts(), { type: 'image/bmp' });
  return { blob };
}

const handlers = {
  // The page's canvas, handed over so that a picture goes onto it from here,
  // without a copy for the page. Says whether it can be painted here.
  canvas({ canvas }) {
    try {
      const ctx = canvas.getContext('2d');
      if (ctx) screen = { canvas, ctx };
    } catch {
      screen = null;
    }
    return { reply: { painting: screen !== null } };
  },

  // Decodes the picture to show and puts it on the page's canvas when it is
  // here. Else it is handed over as an ImageBitmap, which the page shows
  // without copying it again, or as RGBA bytes.
  async show({ file, bitmap }) {
    await pictures();
    const times = await decode(file, shown, true);
    if (!shown.held) return { reason: shown.reason };
    const { width, height } = shown;
    const reply = { width, height, ...times };
    const painting = performance.now();
    if (screen) {
      // A new size clears the canvas; the same size keeps it as it is.
      if (screen.canvas.width !== width || screen.canvas.height !== height) {
        screen.canvas.width = width;
        screen.canvas.height = height;
      }
      screen.ctx.putImageData(new ImageData(shown.rgbaView(), width, height), 0, 0);
      // The picture is painted once its frame is on the way to the screen:
      // the canvas's next animation frame has begun, and the page's canvas
      // holds it. The time goes to the page on the clock both share. A
      // hidden page has no frames: the reply does not wait for one long.
      await new Promise((sent) => {
        if (typeof requestAnimationFrame === 'function') requestAnimationFrame(sent);
        setTimeout(sent, typeof requestAnimationFrame === 'function' ? 100 : 0);
      });
      reply.paintedAt = performance.timeOrigin + performance.now();
      reply.paintMs = performance.now() - painting;
      return { reply };
    }
    if (bitmap && typeof createImageBitmap === 'function') {
      // Every pixel is opaque and the numbers are the picture's own: nothing
      // to premultiply or convert, and saying so spares a pass over it.
      reply.bitmap = await createImageBitmap(new ImageData(shown.rgbaView(), width, height),
        { premultiplyAlpha: 'none', colorSpaceConversion: 'none' });
      reply.paintMs = performance.now() - painting;
      return { reply, transfer: [reply.bitmap] };
    }
    reply.rgba = shown.rgba();
    return { reply, transfer: [reply.rgba.buffer] };
  },

  bmp() {
    if (!shown?.held) return { reason: 'no picture' };
    return { blob: new Blob(shown.bmpParts(), { type: 'image/bmp' }) };
  },

  async png() {
    if (!shown?.held) return { reason: 'no picture' };
    return { blob: await pngBlob(shown) };
  },

  convert({ file, format }) { return convert(file, format); },

  // A ZIP written one entry at a time: each reply carries the compressed
  // bytes made so far, so the page can write them out before asking for more.
  zipStart() {
    const chunks = [];
    let error = null;
    const zip = new Zip((err, chunk) => { if (err) error = err; else chunks.push(chunk); });
    batch = { zip, chunks, error: () => error };
    return {};
  },

  async zipAdd({ file, name, format }) {
    if (!batch) return { reason: 'no ZIP started' };
    const out = await convert(file, format);
    if (out.reason) return { reason: out.reason, chunks: [] };
    const data = new Uint8Array(await out.blob.arrayBuffer());
    // BMP pixels shrink well even at the fastest level; PNG is deflated already.
    const entry = format === 'png' ? new ZipPassThrough(name) : new ZipDeflate(name, { level: 1 });
    entry.mtime = file.lastModified || Date.now();
    batch.zip.add(entry);
    entry.push(data, true);
    return drain();
  },

  zipEnd() {
    if (!batch) return { reason: 'no ZIP started' };
    batch.zip.end();
    const out = drain();
    batch = null;
    return out;
  },

  zipCancel() {
    if (batch) batch.zip.terminate();
    batch = null;
    return {};
  },

  // Decoding time alone, for the benchmark: each file `repeat` times.
  async timeDecode({ files, repeat }) {
    await pictures();
    const { kernel } = await core;
    const p = work;
    const times = [];
    for (const file of files) {
      const bytes = new Uint8Array(await file.arrayBuffer());
      const runs = [];
      for (let i = 0; i < repeat; i++) {
        const t = performance.now();
        if (!p.load(bytes)) return { reason: p.reason };
        runs.push(performance.now() - t);
      }
      times.push(runs);
    }
    return { reply: { times, kernel: kernel() } };
  },
};

function drain() {
  const error = batch.error();
  if (error) throw error;
  // Copied, not transferred: the chunks may be views of buffers the ZIP writer keeps.
  return { reply: { chunks: batch.chunks.splice(0) } };
}

// One request at a time, in order: a request never sees the module's
// memory change under it while it waits.
let queue = Promise.resolve();
self.onmessage = ({ data }) => { queue = queue.then(() => handle(data)); };

async function handle(data) {
  const { id, op } = data;
  try {
    const out = await handlers[op](data);
    const reply = { id, ...(out.reply || {}), reason: out.reason, blob: out.blob };
    self.postMessage(reply, out.transfer || []);
  } catch (e) {
    // A module that ran out of memory cannot go on: start a fresh one.
    if (e instanceof WebAssembly.RuntimeError) {
      core = loadCore();
      shown = work = null;
    }
    self.postMessage({ id, reason: String(e && e.message ? e.message : e), failed: true });
  }
}
