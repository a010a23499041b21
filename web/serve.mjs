// Serves a static folder on localhost, as any static host would, with the
// types the app needs and gzip where the browser takes it.
//   node web/serve.mjs [FOLDER] [PORT]
import { createServer } from 'node:http';
import { readFile, stat } from 'node:fs/promises';
import { extname, join, normalize, resolve, sep } from 'node:path';
import { gzipSync } from 'node:zlib';

const TYPES = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.wasm': 'application/wasm',
  '.webmanifest': 'application/manifest+json',
  '.svg': 'image/svg+xml',
  '.json': 'application/json',
};

// `sent`, when given, is told the bytes of each response body as sent.
export function serve(folder, port = 8080, host = '127.0.0.1', sent = null) {
  const root = resolve(folder);
  const server = createServer(async (req, res) => {
    try {
      const path = decodeURIComponent(new URL(req.url, 'http://x').pathname);
      let file = normalize(join(root, path));
      if (file !== root && !file.startsWith(root + sep)) throw new Error('outside');
      if ((await stat(file)).isDirectory()) file = join(file, 'index.html');
      let body = await readFile(file);
      const headers = {
        'Content-Type': TYPES[extname(file)] || 'application/octet-stream',
        'Cache-Control': 'no-cache',
      };
      if (/\bgzip\b/.test(req.headers['accept-encoding'] || '')) {
        body = gzipSync(body, { level: 9 });
        headers['Content-Encoding'] = 'gzip';
      }
      res.writeHead(200, headers);
      res.end(body);
      sent?.(path, body.length);
    } catch {
      res.writeHead(404, { 'Content-Type': 'text/plain' });
      res.end('not found');
    }
  });
  return new Promise((ok) => server.listen(port, host, () => ok(server)));
}

if (import.meta.url === `file://${process.argv[1]}`) {
  const folder = process.argv[2] || 'build/web/site';
  const port = Number(process.argv[3] || 8080);
  await serve(folder, port);
  console.log(`Quillon: http://localhost:${port}/  (serving ${folder}; Ctrl+C stops)`);
}
