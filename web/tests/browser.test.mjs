// The web app in headless Chromium: opening pictures by the file input, a
// drop and a folder, the painted pixels, the BMP, PNG and ZIP files it saves,
// broken files, offline use, the manifest, and requests staying on the page's
// own origin. Expected bytes come from BENCH.tsv (the SHA-256 of each
// picture's BMP as pdt2bmp writes it).
//   node --test web/tests/browser.test.mjs   (QUILLON_SITE=build/web/site)
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { createHash } from 'node:crypto';
import { cpSync, mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { inflateSync } from 'node:zlib';
import { chromium } from 'playwright-core';
import { unzipSync } from 'fflate';
import { serve } from '../serve.mjs';

const here = dirname(fileURLToPath(import.meta.url));
const repo = resolve(here, '../..');
const site = resolve(process.env.QUILLON_SITE || join(repo, 'build/web/site'));
const benchDir = resolve(process.env.QUILLON_BENCH_PICTURES || join(repo, '../shared/bench-pictures'));
const bench = readFileSync(join(benchDir, 'BENCH.tsv'), 'utf8').trim().split('\n').slice(1)
  .map((line) => line.split('\t'))
  .map(([name, width, height, , , , sha]) => ({ name, file: `${name}.pdt`, width: +width, height: +height, sha }));

const sha256 = (bytes) => createHash('sha256').update(bytes).digest('hex');
const scratch = mkdtempSync(join(tmpdir(), 'quillon-web-'));
let server;
let origin;
let context;
let page;
const requests = [];
const pixelHash = new Map();  // picture name → SHA-256 of its BMP pixel bytes

before(async () => {
  server = await serve(site, 0);
  origin = `http://127.0.0.1:${server.address().port}`;
  context = await chromium.launchPersistentContext(join(scratch, 'profile'), {
    executablePath: '/usr/bin/chromium',
    headless: true,
    acceptDownloads: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  context.on('request', (r) => requests.push(r.url()));
  page = context.pages()[0] || await context.newPage();
  page.setDefaultTimeout(120_000);  // a shared, busy machine
  page.on('pageerror', (e) => { throw e; });
  await page.goto(`${origin}/`);
});

after(async () => {
  await context?.close();
  server?.closeAllConnections();
  server?.close();
  rmSync(scratch, { recursive: true, force: true });
});

// Selects list entry `index` and waits until its picture is painted.
async function show(index) {
  await page.evaluate((i) => {
    const pic = document.getElementById('Pic');
    delete pic.dataset.painted;
    delete pic.dataset.settled;
    const list = document.getElementById('File');
    list.selectedIndex = i;
    list.dispatchEvent(new Event('change'));
  }, index);
  // Settled: painted, or refused with a reason.
  await page.waitForFunction((i) => document.getElementById('Pic').dataset.settled === String(i), index);
}

// The canvas's pixels laid out as a BMP's pixel data (bottom row first,
// B, G, R, 0xFF), hashed in the page.
function canvasBmpPixelHash(on = page) {
  return on.evaluate(async () => {
    // Drawn onto a canvas of the test's own, as the page shows it.
    const shown = document.getElementById('PicCanvas');
    const c = new OffscreenCanvas(shown.width, shown.height);
    const ctx = c.getContext('2d');
    ctx.drawImage(shown, 0, 0);
    const rgba = ctx.getImageData(0, 0, c.width, c.height).data;
    const out = new Uint8Array(rgba.length);
    const row = c.width * 4;
    for (let y = 0; y < c.height; y++) {
      const from = (c.height - 1 - y) * row;
      for (let x = 0; x < row; x += 4) {
        out[y * row + x] = rgba[from + x + 2];
        out[y * row + x + 1] = rgba[from + x + 1];
        out[y * row + x + 2] = rgba[from + x];
        out[y * row + x + 3] = rgba[from + x + 3];
      }
    }
    const digest = await crypto.subtle.digest('SHA-256', out);
    return [...new Uint8Array(digest)].map((b) => b.toString(16).padStart(2, '0')).join('');
  });
}

async function downloadOf(click) {
  const [download] = await Promise.all([page.waitForEvent('download'), click()]);
  return { name: download.suggestedFilename(), bytes: readFileSync(await download.path()) };
}

// A plain PNG reader (8-bit RGB or RGBA, not interlaced) giving the BMP pixel
// bytes, to hold the browser's PNG encoder to the picture's exact pixels.
function pngToBmpPixels(png) {
  assert.equal(png.subarray(1, 4).toString(), 'PNG');
  let at = 8;
  let width = 0;
  let height = 0;
  let channels = 0;
  const data = [];
  while (at < png.length) {
    const length = png.readUInt32BE(at);
    const type = png.subarray(at + 4, at + 8).toString();
    const body = png.subarray(at + 8, at + 8 + length);
    if (type === 'IHDR') {
      width = body.readUInt32BE(0);
      height = body.readUInt32BE(4);
      assert.equal(body[8], 8, 'bit depth');
      assert.equal(body[12], 0, 'interlace');
      channels = { 2: 3, 6: 4 }[body[9]];
      assert.ok(channels, `colour type ${body[9]}`);
    } else if (type === 'IDAT') {
      data.push(body);
    }
    at += 12 + length;
  }
  const raw = inflateSync(Buffer.concat(data));
  const stride = width * channels;
  const rows = [];
  let prev = new Uint8Array(stride);
  for (let y = 0; y < height; y++) {
    const filter = raw[y * (stride + 1)];
    const line = Uint8Array.from(raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1)));
    for (let i = 0; i < stride; i++) {
      const a = i >= channels ? line[i - channels] : 0;
      const b = prev[i];
      const c = i >= channels ? prev[i - channels] : 0;
      const p = a + b - c;
      const pa = Math.abs(p - a);
      const pb = Math.abs(p - b);
      const pc = Math.abs(p - c);
      const paeth = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
      line[i] = (line[i] + [0, a, b, (a + b) >> 1, paeth][filter]) & 0xff;
    }
    rows.push(line);
    prev = line;
  }
  const out = Buffer.alloc(width * height * 4);
  for (let y = 0; y < height; y++) {
    const line = rows[height - 1 - y];
    for (let x = 0; x < width; x++) {
      const o = (y * width + x) * 4;
      out[o] = line[x * channels + 2];
      out[o + 1] = line[x * channels + 1];
      out[o + 2] = line[x * channels];
      out[o + 3] = channels === 4 ? line[x * channels + 3] : 0xff;
    }
  }
  return { width, height, pixels: out };
}

const pdtPaths = bench.map((b) => join(benchDir, b.file));

test('the file input opens the 16 pictures; canvas, BMP and PNG hold the same pixels as pdt2bmp', async () => {
  await page.setInputFiles('#pickFiles', pdtPaths);
  const listed = await page.$$eval('#File option', (o) => o.map((x) => x.textContent));
  assert.deepEqual(listed, bench.map((b) => b.file));
  // Chromium lets the Worker paint the canvas: the page has no context of its own.
  assert.ok(await page.$eval('#PicCanvas', (c) => { try { c.getContext('2d'); return false; } catch { return true; } }),
    'the canvas was handed to the Worker');
  for (const [i, b] of bench.entries()) {
    await show(i);
    assert.equal(await page.textContent('#reason'), `${b.file}  ${b.width} × ${b.height}`);
    assert.equal(await page.inputValue('#txt'), `${b.name}.bmp`);
    const bmp = await downloadOf(() => page.click('#btnSave'));
    assert.equal(bmp.name, `${b.name}.bmp`);
    assert.equal(sha256(bmp.bytes), b.sha, `${b.name}: BMP bytes`);
    const pixels = sha256(bmp.bytes.subarray(58));
    assert.equal(await canvasBmpPixelHash(), pixels, `${b.name}: canvas pixels`);
    pixelHash.set(b.name, pixels);
    {
      const png = await downloadOf(() => page.click('#btnSavePng'));
      assert.equal(png.name, `${b.name}.png`);
      const decoded = pngToBmpPixels(png.bytes);
      assert.deepEqual([decoded.width, decoded.height], [b.width, b.height]);
      assert.equal(sha256(decoded.pixels), pixels, `${b.name}: PNG pixels`);
    }
  }
});

test('a drop of the 16 pictures lists them in order and paints each one', async () => {
  const files = bench.map((b) => ({ name: b.file.toUpperCase(), data: readFileSync(join(benchDir, b.file)).toString('base64') }))
    .reverse();
  await page.evaluate((dropped) => {
    const dt = new DataTransfer();
    for (const f of dropped) {
      const bytes = Uint8Array.from(atob(f.data), (ch) => ch.charCodeAt(0));
      dt.items.add(new File([bytes], f.name));
    }
    document.getElementById('Pic').dispatchEvent(new DragEvent('drop', { dataTransfer: dt, bubbles: true, cancelable: true }));
  }, files);
  await page.waitForFunction(() => document.getElementById('File').options.length === 16);
  const listed = await page.$$eval('#File option', (o) => o.map((x) => x.textContent));
  assert.deepEqual(listed, bench.map((b) => b.file.toUpperCase()));
  for (const [i, b] of bench.entries()) {
    await show(i);
    assert.equal(await canvasBmpPixelHash(), pixelHash.get(b.name), `${b.name}: dropped picture's pixels`);
  }
});

test('where the Worker cannot paint the canvas, the page shows the same pixels itself', async () => {
  // A browser without transferControlToOffscreen: the Worker hands each
  // picture over and the page puts it on its canvas.
  const other = await context.newPage();
  try {
    await other.addInitScript(() => { delete HTMLCanvasElement.prototype.transferControlToOffscreen; });
    await other.goto(`${origin}/`);
    const picked = [1, 5, 8];  // 1920 × 1080 twice, then 1280 × 720
    await other.setInputFiles('#pickFiles', picked.map((i) => pdtPaths[i]));
    for (const [n, i] of picked.entries()) {
      await other.evaluate((n) => {
        const pic = document.getElementById('Pic');
        delete pic.dataset.painted;
        const list = document.getElementById('File');
        list.selectedIndex = n;
        list.dispatchEvent(new Event('change'));
      }, n);
      await other.waitForFunction((n) => document.getElementById('Pic').dataset.painted === String(n), n);
      assert.equal(await canvasBmpPixelHash(other), pixelHash.get(bench[i].name), `${bench[i].name}: pixels the page drew`);
    }
    assert.ok(await other.$eval('#PicCanvas', (c) => c.getContext('bitmaprenderer') !== null), 'the page drew an ImageBitmap');
  } finally {
    await other.close();
  }
});

test('files launched with the installed app are listed and the first one painted', async () => {
  // The browser hands an installed app's launch files to the consumer given
  // to window.launchQueue; here the test plays the browser.
  const other = await context.newPage();
  try {
    await other.addInitScript(() => {
      Object.defineProperty(window, 'launchQueue', {
        value: { setConsumer: (consumer) => { window.launchConsumer = consumer; } },
      });
    });
    await other.goto(`${origin}/`);
    const picked = [8, 0, 3];
    const files = picked.map((i) => ({ name: bench[i].file, base64: readFileSync(pdtPaths[i]).toString('base64') }));
    await other.evaluate((files) => {
      window.launchConsumer({
        files: files.map(({ name, base64 }) => ({
          kind: 'file',
          name,
          getFile: async () => new File([Uint8Array.from(atob(base64), (c) => c.charCodeAt(0))], name),
        })),
      });
    }, files);
    await other.waitForFunction(() => document.getElementById('Pic').dataset.painted === '0');
    assert.deepEqual(await other.$$eval('#File option', (o) => o.map((x) => x.textContent)),
      [0, 3, 8].map((i) => bench[i].file));
    assert.equal(await canvasBmpPixelHash(other), pixelHash.get(bench[0].name), 'the first launched picture\'s pixels');
  } finally {
    await other.close();
  }
});

test('the views: standard 320 × 240, actual size from the menu, back on a left click', async () => {
  await show(5);  // 1920 × 1080
  const size = () => page.$eval('#PicCanvas', (c) => [c.getBoundingClientRect().width, c.getBoundingClientRect().height]);
  assert.deepEqual(await size(), [320, 240]);
  await page.click('#Pic', { button: 'right' });
  assert.deepEqual(await page.$$eval('#m_VIEW li', (l) => l.map((x) => [x.textContent, x.getAttribute('aria-checked')])),
    [['実寸表示(J)', 'false'], ['標準表示(D)', 'true']]);
  await page.keyboard.press('j');
  assert.ok(await page.$eval('#m_VIEW', (m) => m.hidden));
  const ratio = await page.evaluate(() => devicePixelRatio);
  assert.deepEqual(await size(), [1920 / ratio, 1080 / ratio]);
  await page.screenshot({ path: join(scratch, 'actual.png') });
  await page.click('#Pic', { position: { x: 10, y: 10 } });
  assert.deepEqual(await size(), [320, 240]);
  // The arrow keys move through the list, and the picture follows.
  await page.keyboard.press('ArrowDown');
  await page.waitForFunction(() => document.getElementById('Pic').dataset.settled === '6');
  assert.equal(await page.inputValue('#txt'), `${bench[6].name.toUpperCase()}.bmp`);
});

test('a folder with subfolders: listed with its paths, and saved whole as a ZIP', async () => {
  const root = join(scratch, 'pictures');
  const place = [['z.Pdt', 8], ['a/y.pdt', 12], ['a/b/x.PDT', 0], ['a/b/c/w.pdt', 3]];
  for (const [path, index] of place) {
    mkdirSync(dirname(join(root, path)), { recursive: true });
    cpSync(join(benchDir, bench[index].file), join(root, path));
  }
  writeFileSync(join(root, 'a/notes.txt'), 'not a picture');
  writeFileSync(join(root, 'a/broken.pdt'), Buffer.alloc(100, 7));
  await page.setInputFiles('#pickFolder', root);
  const listed = await page.$$eval('#File option', (o) => o.map((x) => x.textContent));
  assert.deepEqual(listed, ['z.Pdt', 'a/broken.pdt', 'a/y.pdt', 'a/b/x.PDT', 'a/b/c/w.pdt']);
  // Chromium asks where to save the ZIP and streams it there; the test
  // stands in for that file, and can hold a write to cancel meanwhile.
  await page.evaluate(() => {
    window.zipFile = { parts: [], closed: false, aborted: false, hold: null, held: false };
    window.showSaveFilePicker = async () => {
      const w = window.zipFile;
      return {
        createWritable: async () => ({
          async write(chunk) {
            if (w.hold) { w.held = true; await w.hold; }
            w.parts.push(chunk.slice());
          },
          async close() { w.closed = true; },
          async abort() { w.aborted = true; },
        }),
      };
    };
  });
  await page.click('#btnZip');
  await page.waitForFunction(() => window.zipFile.closed && document.getElementById('btnCancel').hidden);
  const written = await page.evaluate(async () => {
    const bytes = new Uint8Array(await new Blob(window.zipFile.parts).arrayBuffer());
    let text = '';
    for (let i = 0; i < bytes.length; i += 0x8000) text += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
    return btoa(text);
  });
  const entries = unzipSync(new Uint8Array(Buffer.from(written, 'base64')));
  assert.deepEqual(Object.keys(entries).sort(), ['a/b/c/w.bmp', 'a/b/x.bmp', 'a/y.bmp', 'z.bmp']);
  for (const [path, index] of place) {
    assert.equal(sha256(entries[path.slice(0, -3) + 'bmp']), bench[index].sha, path);
  }
  assert.equal(await page.textContent('#reason'), '1 個を変換できません（a/broken.pdt: not a PDT10 file）');
  assert.equal(await page.$eval('#progress', (p) => `${p.value}/${p.max}`), '5/5');

  // Cancelled while the first entry is being written: the file is abandoned.
  await page.evaluate(() => {
    const w = { parts: [], closed: false, aborted: false, held: false };
    w.hold = new Promise((release) => { w.release = release; });
    window.zipFile = w;
  });
  await page.click('#btnZip');
  await page.waitForFunction(() => window.zipFile.held);
  await page.click('#btnCancel');
  await page.evaluate(() => window.zipFile.release());
  await page.waitForFunction(() => document.getElementById('btnCancel').hidden);
  assert.deepEqual(await page.evaluate(() => [window.zipFile.aborted, window.zipFile.closed]), [true, false]);
  assert.equal(await page.textContent('#reason'), '中止しました。');

  // Where the browser cannot write files, the ZIP is downloaded; PNG entries.
  await page.evaluate(() => { window.showSaveFilePicker = undefined; });
  await page.check('input[name=format][value=png]');
  const zip = await downloadOf(() => page.click('#btnZip'));
  await page.check('input[name=format][value=bmp]');
  const pngs = unzipSync(new Uint8Array(zip.bytes));
  assert.deepEqual(Object.keys(pngs).sort(), ['a/b/c/w.png', 'a/b/x.png', 'a/y.png', 'z.png']);
  const decoded = pngToBmpPixels(Buffer.from(pngs['a/b/x.png']));
  assert.equal(sha256(decoded.pixels), pixelHash.get(bench[0].name));
});

test('the same folder converted into a chosen folder: an existing file is replaced only on Yes', async () => {
  // The browser's private file system stands in for the folder the user picks.
  await page.evaluate(async () => {
    const root = await navigator.storage.getDirectory();
    const out = await root.getDirectoryHandle('out', { create: true });
    const old = await (await out.getFileHandle('z.bmp', { create: true })).createWritable();
    await old.write('old');
    await old.close();
    window.showDirectoryPicker = async () => out;
  });
  const hashes = () => page.evaluate(async () => {
    const out = await (await navigator.storage.getDirectory()).getDirectoryHandle('out');
    const hash = async (dir, path) => {
      const parts = path.split('/');
      for (const part of parts.slice(0, -1)) dir = await dir.getDirectoryHandle(part);
      const bytes = await (await (await dir.getFileHandle(parts.at(-1))).getFile()).arrayBuffer();
      return [...new Uint8Array(await crypto.subtle.digest('SHA-256', bytes))].map((b) => b.toString(16).padStart(2, '0')).join('');
    };
    const result = {};
    for (const path of ['z.bmp', 'a/y.bmp', 'a/b/x.bmp', 'a/b/c/w.bmp']) result[path] = await hash(out, path);
    return result;
  });
  const run = async (answer) => {
    const asked = [];
    const onDialog = (d) => { asked.push(d.message()); return answer ? d.accept() : d.dismiss(); };
    page.on('dialog', onDialog);
    await page.click('#btnToFolder');
    await page.waitForFunction(() => document.getElementById('btnCancel').hidden && !document.getElementById('btnZip').disabled);
    page.off('dialog', onDialog);
    return asked;
  };
  const expected = { 'a/y.bmp': bench[12].sha, 'a/b/x.bmp': bench[0].sha, 'a/b/c/w.bmp': bench[3].sha };

  const askedNo = await run(false);
  // The browser shows the desktop's CR LF as one line break.
  assert.deepEqual(askedNo, ['z.bmp\n同じファイル名が存在します\n既存のファイルに上書きしますか？']);
  assert.deepEqual(await hashes(), { 'z.bmp': sha256('old'), ...expected });
  assert.equal(await page.textContent('#reason'), '1 個を変換できません（a/broken.pdt: not a PDT10 file）');

  const askedYes = await run(true);
  assert.equal(askedYes.length, 4);
  assert.deepEqual(await hashes(), { 'z.bmp': bench[8].sha, ...expected });
});

test('a broken file shows its reason and offers no save', async () => {
  const good = readFileSync(join(benchDir, bench[0].file));
  const cases = [
    ['short.pdt', good.subarray(0, 20), 'header too short (a PDT file starts with 32 header bytes)'],
    ['cut.pdt', good.subarray(0, good.length >> 1), 'stream ends before the picture is complete'],
    ['text.pdt', Buffer.from('PDT9 '.repeat(20)), 'not a PDT10 file'],
  ];
  const paths = cases.map(([name, bytes]) => {
    writeFileSync(join(scratch, name), bytes);
    return join(scratch, name);
  });
  await page.setInputFiles('#pickFiles', [join(benchDir, bench[1].file), ...paths]);
  const listed = await page.$$eval('#File option', (o) => o.map((x) => x.textContent));
  for (const [name, , reason] of cases) {
    await show(listed.indexOf(name));
    assert.equal(await page.textContent('#reason'), `${name}: ${reason}`);
    assert.ok(await page.$eval('#btnSave', (b) => b.disabled), `${name}: BMP save offered`);
    assert.ok(await page.$eval('#btnSavePng', (b) => b.disabled), `${name}: PNG save offered`);
  }
  // The view menu does nothing while no picture is held.
  await page.click('#Pic', { button: 'right' });
  await page.keyboard.press('j');
  assert.deepEqual(await page.$eval('#PicCanvas', (c) => [c.style.width, c.style.height]), ['320px', '240px']);
});

test('the manifest declares the PDT file handler, and the app can be installed', async () => {
  const manifest = await page.evaluate(async () => {
    const href = document.querySelector('link[rel=manifest]').href;
    return (await fetch(href)).json();
  });
  const handler = manifest.file_handlers.find((h) => h.accept['image/x-pdt']);
  assert.ok(handler, 'a handler for image/x-pdt');
  assert.deepEqual(handler.accept['image/x-pdt'], ['.pdt']);
  assert.ok(await page.evaluate(() => 'launchQueue' in window), 'launchQueue present in Chromium');
  // Chromium reads the manifest without complaint and would install the app.
  await page.evaluate(() => navigator.serviceWorker.ready);
  const cdp = await context.newCDPSession(page);
  assert.deepEqual((await cdp.send('Page.getAppManifest')).errors, []);
  assert.deepEqual((await cdp.send('Page.getInstallabilityErrors')).installabilityErrors, []);
  await cdp.detach();
});

test('with the server stopped, a reload still opens and shows a picture', async () => {
  await page.evaluate(() => navigator.serviceWorker.ready);
  await page.reload();
  assert.ok(await page.evaluate(() => !!navigator.serviceWorker.controller), 'the service worker controls the page');
  server.closeAllConnections();
  await new Promise((done) => server.close(done));
  await page.reload();
  await page.setInputFiles('#pickFiles', [join(benchDir, bench[2].file)]);
  await page.waitForFunction(() => document.getElementById('Pic').dataset.painted === '0');
  assert.equal(await canvasBmpPixelHash(), pixelHash.get(bench[2].name));
  server = null;
});

test('no request leaves the page\'s own origin', () => {
  assert.ok(requests.length > 10);
  const foreign = requests.filter((url) => !url.startsWith(`${origin}/`) && !/^(blob|data):/.test(url));
  assert.deepEqual(foreign, []);
});
