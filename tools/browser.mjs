// What the browser tests and benchmarks share: a plain static server,
// chromium as both start it, its memory, and WAV inputs.
import { open, readdir, readFile } from 'node:fs/promises';
import { createServer } from 'node:http';
import { extname, join } from 'node:path';
import puppeteer from 'puppeteer-core';

// A plain static server, as any would serve a folder. A path in `failNext`
// fails once, as on a flaky network: a program is not found, a script throws.
const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.wasm': 'application/wasm' };
export async function serve(root, failNext = new Set()) {
  const server = createServer(async (request, response) => {
    const path = new URL(request.url, 'http://page').pathname;
    if (failNext.delete(path.slice(1))) {
      if (path.endsWith('.js')) response.writeHead(200, { 'Content-Type': 'text/javascript' }).end('throw new Error("no worker here")');
      else response.writeHead(404).end();
      return;
    }
    try {
      const body = await readFile(join(root, path.endsWith('/') ? `${path}index.html` : path));
      response.writeHead(200, { 'Content-Type': types[extname(path) || '.html'] ?? 'application/octet-stream' });
      response.end(body);
    } catch {
      response.writeHead(404).end();
    }
  });
  await new Promise((done) => server.listen(0, '127.0.0.1', done));
  return server;
}

export function launch() {
  return puppeteer.launch({
    executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
    headless: true,
    // A long conversion is one long wait for its end.
    protocolTimeout: 0,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-sync',
      '--disable-background-networking', '--disable-component-update', '--autoplay-policy=no-user-gesture-required'],
  });
}

// The memory of chromium's processes, proportional set size summed.
export async function browserMemory(pids) {
  let total = 0;
  for (const pid of pids) {
    try {
      total += Number(/Pss:\s+(\d+)/.exec(await readFile(`/proc/${pid}/smaps_rollup`, 'utf8'))[1]) * 1024;
    } catch { /* a process that has ended */ }
  }
  return total;
}

// The browser's process and all below it.
export async function browserPids(root) {
  const children = new Map();
  for (const pid of (await readdir('/proc')).filter((name) => /^\d+$/.test(name))) {
    try {
      const stat = await readFile(`/proc/${pid}/stat`, 'utf8');
      const parent = Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]);
      children.set(parent, [...(children.get(parent) ?? []), Number(pid)]);
    } catch { /* gone */ }
  }
  const pids = [root];
  for (let i = 0; i < pids.length; i++) pids.push(...(children.get(pids[i]) ?? []));
  return pids;
}

// A canonical WAV header; `unknownSize` writes both sizes as 0xFFFFFFFF, as
// a writer streaming to a pipe does.
export function wavHeader({ channels = 2, rate = 44100, bits = 16, dataSize, unknownSize = false }) {
  const header = Buffer.alloc(44);
  header.write('RIFF', 0);
  header.writeUInt32LE(unknownSize ? 0xffffffff : 36 + dataSize, 4);
  header.write('WAVEfmt ', 8);
  header.writeUInt32LE(16, 16);
  header.writeUInt16LE(1, 20);
  header.writeUInt16LE(channels, 22);
  header.writeUInt32LE(rate, 24);
  header.writeUInt32LE((rate * channels * bits) / 8, 28);
  header.writeUInt16LE((channels * bits) / 8, 32);
  header.writeUInt16LE(bits, 34);
  header.write('data', 36);
  header.writeUInt32LE(unknownSize ? 0xffffffff : dataSize, 40);
  return header;
}

// A WAV of silence but for a few patterns, around 2 GiB among other places:
// sparse, so that gigabytes cost little disk.
export async function sparseWav(path, dataSize, format = {}) {
  const file = await open(path, 'w');
  await file.write(wavHeader({ ...format, dataSize }), 0, 44, 0);
  const pattern = Buffer.from(Array.from({ length: 1 << 16 }, (_, i) => (i * 37) % 256));
  for (const offset of [0, Math.floor(dataSize / 3), 2 ** 31 - 2 ** 15, dataSize - (1 << 16)]) {
    if (offset >= 0 && offset + pattern.length <= dataSize) await file.write(pattern, 0, pattern.length, 44 + offset);
  }
  await file.truncate(44 + dataSize);
  await file.close();
}
