// The page in a real browser: Debian's chromium, headless, driven by
// puppeteer-core. Serves the built page folder, converts the bundled
// example and compares the download with the native build's stream, sees a
// truncated WAV fail with no download, listens to the stream, converts
// 100 MB while the page stays responsive, and checks that nothing but the
// page's own files came over the network.
//
//   node web/page_test.mjs build-wasi/web examples/sweep.wav NATIVE.ima SHOT.png
import { createHash } from 'node:crypto';
import { mkdtemp, readFile, rm, writeFile } from 'node:fs/promises';
import { createServer } from 'node:http';
import { tmpdir } from 'node:os';
import { extname, join } from 'node:path';
import puppeteer from 'puppeteer-core';

const [folder, example, nativeStream, screenshot] = process.argv.slice(2);
const failures = [];
function check(ok, what) {
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${what}`);
  if (!ok) failures.push(what);
}
const sha256 = (bytes) => createHash('sha256').update(bytes).digest('hex');

// A plain static server, as any would serve the folder.
const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.wasm': 'application/wasm' };
const server = createServer(async (request, response) => {
  const path = new URL(request.url, 'http://page').pathname;
  try {
    const body = await readFile(join(folder, path.endsWith('/') ? `${path}index.html` : path));
    response.writeHead(200, { 'Content-Type': types[extname(path) || '.html'] ?? 'application/octet-stream' });
    response.end(body);
  } catch {
    response.writeHead(404).end();
  }
});
await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));

const scratch = await mkdtemp(join(tmpdir(), 'wav2ima-page-'));
const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
  headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-sync',
    '--disable-background-networking', '--disable-component-update', '--autoplay-policy=no-user-gesture-required'],
});
try {
  const page = await browser.newPage();
  await page.setViewport({ width: 800, height: 640 });
  const requests = [];
  page.on('request', (request) => requests.push(request.url()));
  await page.goto(`http://127.0.0.1:${server.address().port}/`, { waitUntil: 'networkidle0' });
  const loaded = requests.length;

  // Chooses a file and waits for the program's exit status.
  async function convert(path) {
    await page.evaluate(() => { document.querySelector('#messages').textContent = ''; });
    await (await page.$('#wav-file')).uploadFile(path);
    await page.waitForFunction(
      () => /exit status -?\d+\n$/.test(document.querySelector('#messages').textContent) &&
        !document.querySelector('#wav-file').disabled,
      { timeout: 120000 });
    return page.$eval('#messages', (element) => element.textContent);
  }
  const download = () => page.evaluate(async () => {
    const link = document.querySelector('#download');
    if (link === null) return null;
    const bytes = new Uint8Array(await (await fetch(link.href)).arrayBuffer());
    const digest = new Uint8Array(await crypto.subtle.digest('SHA-256', bytes));
    return { name: link.download, size: bytes.length, sha256: Array.from(digest, (b) => b.toString(16).padStart(2, '0')).join('') };
  });

  const wav = await readFile(example);
  const truncated = join(scratch, 'truncated.wav');
  await writeFile(truncated, wav.subarray(0, 1000));
  const failed = await convert(truncated);
  check(failed.includes('converting truncated.wav\nconvert error\nexit status 1\n'), 'a truncated WAV: "convert error", status 1');
  check(await page.$('#download') === null, 'a truncated WAV: no download');

  const said = await convert(example);
  check(said === '$ wav2ima sweep.wav sweep.ima\nconverting sweep.wav\nexit status 0\n', 'the example: the program\'s messages and status');
  const native = await readFile(nativeStream);
  const got = await download();
  check(got !== null && got.name === 'sweep.ima', 'the example: a download named sweep.ima');
  check(got !== null && got.size === native.length && got.sha256 === sha256(native), 'the example: the native build\'s bytes');
  check(await page.$eval('#progress', (bar) => bar.value) === 1, 'the example: the progress bar full');
  await page.screenshot({ path: screenshot });

  await page.click('#listen');
  await page.waitForFunction(() => document.querySelector('#player').readyState >= 1, { timeout: 60000 });
  const duration = await page.$eval('#player', (player) => player.duration);
  check(Math.abs(duration - native.length / 44100) < 0.01, `listen: a playable source of ${native.length / 44100} s (${duration} s)`);

  // 100 MB of silence: the page keeps answering, and the bar moves.
  const large = join(scratch, 'large.wav');
  const header = Buffer.from(wav.subarray(0, 44));
  header.writeUInt32LE(36 + 100000000, 4);
  header.writeUInt32LE(100000000, 40);
  await writeFile(large, Buffer.concat([header, Buffer.alloc(100000000)]));
  await page.evaluate(() => {
    window.watch = { last: performance.now(), longest: 0, shares: new Set() };
    window.watch.timer = setInterval(() => {
      const now = performance.now();
      window.watch.longest = Math.max(window.watch.longest, now - window.watch.last);
      window.watch.last = now;
      window.watch.shares.add(document.querySelector('#progress').value);
    }, 20);
  });
  const started = Date.now();
  const largeSaid = await convert(large);
  console.log(`     100 MB converted in ${((Date.now() - started) / 1000).toFixed(1)} s`);
  const watched = await page.evaluate(() => {
    clearInterval(window.watch.timer);
    return { longest: window.watch.longest, partial: [...window.watch.shares].filter((s) => s > 0 && s < 1).length };
  });
  check(largeSaid.endsWith('exit status 0\n') && (await download())?.size === 25000000, '100 MB: converted to 25 MB');
  check(watched.longest < 1000, `100 MB: the page answered throughout (longest pause ${Math.round(watched.longest)} ms)`);
  check(watched.partial >= 3, `100 MB: the progress bar moved (${watched.partial} steps seen)`);

  // blob: and data: URLs are the page's own bytes, made in the browser.
  const fetched = requests.slice(loaded).filter((url) => !/^(blob|data):/.test(url));
  check(fetched.length === 0, `nothing fetched after the page loaded ${JSON.stringify(fetched)}`);
} finally {
  await browser.close();
  server.close();
  await rm(scratch, { recursive: true });
}
if (failures.length > 0) {
  console.log(`${failures.length} failed`);
  process.exit(1);
}
