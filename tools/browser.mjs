// What the browser tests and benchmarks share: a plain static server,
// chromium as both start it, and its memory.
import { readdir, readFile } from 'node:fs/promises';
import { createServer } from 'node:http';
import { extname, join } from 'node:path';
import puppeteer from 'puppeteer-core';

// A plain static server, as any would serve a folder. A path in `failNext`
// fails once, as on a flaky network: a program is not found, a script throws.
/** @type {Record<string, string>} */
const types = {
  '.html': 'text/html',
  '.js': 'text/javascript',
  '.css': 'text/css',
  '.wasm': 'application/wasm',
};
/**
 * @param {string} root
 * @param {Set<string>} [failNext]
 * @returns {Promise<Omit<import('node:http').Server, 'address'> &
 *   {address(): import('node:net').AddressInfo}>}
 */
export async function serve(root, failNext = new Set()) {
  const server = createServer(async (request, response) => {
    const path = new URL(request.url ?? '/', 'http://page').pathname;
    if (failNext.delete(path.slice(1))) {
      if (path.endsWith('.js'))
        response
          .writeHead(200, { 'Content-Type': 'text/javascript' })
          .end('throw new Error("no worker here")');
      else response.writeHead(404).end();
      return;
    }
    try {
      const body = await readFile(join(root, path.endsWith('/') ? `${path}index.html` : path));
      response.writeHead(200, {
        'Content-Type': types[extname(path) || '.html'] ?? 'application/octet-stream',
      });
      response.end(body);
    } catch {
      response.writeHead(404).end();
    }
  });
  await new Promise((done) => server.listen(0, '127.0.0.1', () => done(undefined)));
  // Listening on a port, it has an address with one.
  return /** @type {any} */ (server);
}

export function launch() {
  return puppeteer.launch({
    executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
    headless: true,
    // A long conversion is one long wait for its end.
    protocolTimeout: 0,
    args: [
      '--no-sandbox',
      '--disable-gpu',
      '--disable-quic',
      '--no-first-run',
      '--disable-sync',
      '--disable-background-networking',
      '--disable-component-update',
      '--autoplay-policy=no-user-gesture-required',
    ],
  });
}

// The memory of chromium's processes, proportional set size summed.
/** @param {number[]} pids */
export async function browserMemory(pids) {
  let total = 0;
  for (const pid of pids) {
    try {
      const pss = /Pss:\s+(\d+)/.exec(await readFile(`/proc/${pid}/smaps_rollup`, 'utf8'));
      total += Number(pss?.[1] ?? 0) * 1024;
    } catch {
      /* a process that has ended */
    }
  }
  return total;
}

// The browser's process and all below it.
/** @param {number} root */
export async function browserPids(root) {
  /** @type {Map<number, number[]>} */
  const children = new Map();
  for (const pid of (await readdir('/proc')).filter((name) => /^\d+$/.test(name))) {
    try {
      const stat = await readFile(`/proc/${pid}/stat`, 'utf8');
      const parent = Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]);
      children.set(parent, [...(children.get(parent) ?? []), Number(pid)]);
    } catch {
      /* gone */
    }
  }
  const pids = [root];
  for (let i = 0; i < pids.length; i++) pids.push(...(children.get(pids[i]) ?? []));
  return pids;
}

// Runs `action`, sampling the memory of `pids` as it runs: {result, grew},
// the peak over what there was before.
/**
 * @template T
 * @param {number[]} pids
 * @param {() => Promise<T>} action
 */
export async function growth(pids, action) {
  const before = await browserMemory(pids);
  let peak = before;
  let running = true;
  const sampler = (async () => {
    for (; running; await new Promise((done) => setTimeout(done, 200)))
      peak = Math.max(peak, await browserMemory(pids));
  })();
  const result = await action();
  running = false;
  await sampler;
  return { result, grew: peak - before };
}
