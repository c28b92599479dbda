// The page in a real browser: Debian's chromium, headless, driven by
// puppeteer-core, over a plain static server. One table of cases, each a
// set of files chosen or dropped, what happens while they convert, and what
// the page must show and offer; the streams are compared with the native
// build's. Big inputs are sparse files. Then the npm package as its users
// get it: the tarball installed into an empty project, both commands run by
// npx and the library imported by node, each beside the native program, and
// a page that only imports the package, built by Vite.
//
//   node web/page_test.mjs build-wasi/web NATIVE_BUILD examples/sweep.wav SHOT.png PACKAGE.tgz
import { execFileSync, spawnSync } from 'node:child_process';
import { createHash } from 'node:crypto';
import { readFileSync, writeFileSync } from 'node:fs';
import { cp, mkdir, mkdtemp, open, readFile, readdir, rm, writeFile } from 'node:fs/promises';
import { createServer } from 'node:http';
import { tmpdir } from 'node:os';
import { extname, join, resolve } from 'node:path';
import { unzipSync } from 'fflate';
import puppeteer from 'puppeteer-core';

const [folder, native, example, screenshot, tarball] = process.argv.slice(2).map((path) => resolve(path));
const nativeWav2ima = join(native, 'wav2ima');
const failures = [];
function check(ok, what) {
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${what}`);
  if (!ok) failures.push(what);
}

// A plain static server, as any would serve a folder. `failNext` names
// files whose next request fails, as on a flaky network: a program is not
// found, a worker's script throws.
const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.wasm': 'application/wasm' };
const failNext = new Set();
async function serve(root) {
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
const server = await serve(folder);
const origin = `http://127.0.0.1:${server.address().port}/`;

// The inputs: WAV files by their format fields, sparse ones by size.
const scratch = await mkdtemp(join(tmpdir(), 'wav2ima-page-'));
const at = (name) => join(scratch, name);
function wavHeader({ channels = 2, rate = 44100, bits = 16, dataSize }) {
  const header = Buffer.alloc(44);
  header.write('RIFF', 0);
  header.writeUInt32LE(36 + dataSize, 4);
  header.write('WAVEfmt ', 8);
  header.writeUInt32LE(16, 16);
  header.writeUInt16LE(1, 20);
  header.writeUInt16LE(channels, 22);
  header.writeUInt32LE(rate, 24);
  header.writeUInt32LE((rate * channels * bits) / 8, 28);
  header.writeUInt16LE((channels * bits) / 8, 32);
  header.writeUInt16LE(bits, 34);
  header.write('data', 36);
  header.writeUInt32LE(dataSize, 40);
  return header;
}
// Silence but for a few patterns, around 2 GiB among other places.
async function sparseWav(name, dataSize) {
  const file = await open(at(name), 'w');
  await file.write(wavHeader({ dataSize }), 0, 44, 0);
  const pattern = Buffer.from(Array.from({ length: 1 << 16 }, (_, i) => (i * 37) % 256));
  for (const offset of [0, Math.floor(dataSize / 3), 2 ** 31 - 2 ** 15, dataSize - (1 << 16)]) {
    if (offset + pattern.length <= dataSize) await file.write(pattern, 0, pattern.length, 44 + offset);
  }
  await file.truncate(44 + dataSize);
  await file.close();
}
const sweep = await readFile(example);
await writeFile(at('sweep.wav'), sweep);
await writeFile(at('truncated.wav'), sweep.subarray(0, 1000));
await writeFile(at('mono48k24.wav'), Buffer.concat([wavHeader({ channels: 1, rate: 48000, bits: 24, dataSize: 300 }), Buffer.alloc(300)]));
await writeFile(at('silence.wav'), Buffer.concat([wavHeader({ dataSize: 4 * 44100 }), Buffer.alloc(4 * 44100)]));
await writeFile(at('empty.wav'), wavHeader({ dataSize: 0 }));
await writeFile(at('changing.wav'), sweep);
await mkdir(at('folder/inner'), { recursive: true });
await writeFile(at('folder/a.wav'), sweep);
await writeFile(at('folder/inner/b.wav'), sweep);
await writeFile(at('folder/notes.txt'), 'not audio');
await sparseWav('1GB.wav', 1_000_000_000);
// Audio wav2ima refuses, made by sox, and an hour and a second of 8 kHz.
execFileSync('sox', ['-n', '-r', '48000', '-c', '1', '-b', '16', at('voice48k.wav'), 'synth', '3', 'sine', '300-3000', 'vol', '0.5']);
execFileSync('sox', ['-n', '-r', '44100', '-c', '2', at('tune.mp3'), 'synth', '3', 'sine', '440', 'sine', '660', 'vol', '0.5']);
await writeFile(at('hour.wav'), wavHeader({ channels: 1, rate: 8000, bits: 8, dataSize: 3601 * 8000 }));
await (await open(at('hour.wav'), 'r+')).truncate(44 + 3601 * 8000);
await sparseWav('2.5GB.wav', 2_500_000_000);

// What the native build makes of an input, as SHA-256 digests of 64 MiB
// slices: the page's download is hashed the same way.
const kSlice = 64 << 20;
function nativeDigests(name) {
  execFileSync(nativeWav2ima, [at(name), at(`${name}.native`)], { stdio: 'ignore' });
  return readFile(at(`${name}.native`)).then((bytes) => {
    const digests = [];
    for (let start = 0; start < bytes.length || start === 0; start += kSlice) {
      digests.push(createHash('sha256').update(bytes.subarray(start, start + kSlice)).digest('hex'));
    }
    return digests;
  });
}

// The memory of chromium's processes, proportional set size summed.
async function browserMemory(pids) {
  let total = 0;
  for (const pid of pids) {
    try {
      total += Number(/Pss:\s+(\d+)/.exec(await readFile(`/proc/${pid}/smaps_rollup`, 'utf8'))[1]) * 1024;
    } catch { /* a process that has ended */ }
  }
  return total;
}
// Runs `action`, sampling the memory of `pids` as it runs: {result, grew},
// the peak over what there was before.
async function growth(pids, action) {
  const before = await browserMemory(pids);
  let peak = before;
  let running = true;
  const sampler = (async () => {
    for (; running; await new Promise((done) => setTimeout(done, 200))) peak = Math.max(peak, await browserMemory(pids));
  })();
  const result = await action();
  running = false;
  await sampler;
  return { result, grew: peak - before };
}
async function browserPids(root) {
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

const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
  headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-sync',
    '--disable-background-networking', '--disable-component-update', '--autoplay-policy=no-user-gesture-required'],
});

// A fresh page; `failOnce` makes the next request for that file fail.
async function openPage({ url = origin, failOnce = null } = {}) {
  if (failOnce) failNext.add(failOnce);
  const page = await browser.newPage();
  await page.setViewport({ width: 800, height: 900 });
  page.requests = [];
  page.on('request', (request) => page.requests.push(request.url()));
  await page.goto(url, { waitUntil: 'networkidle0' });
  await page.evaluate(() => {
    window.longTasks = [];
    new PerformanceObserver((list) => window.longTasks.push(...list.getEntries().map((entry) => entry.duration)))
      .observe({ type: 'longtask' });
    // A run has begun once the list is busy; it has ended when it is not.
    window.begun = false;
    const results = document.querySelector('#results');
    new MutationObserver(() => {
      window.begun ||= results.getAttribute('aria-busy') === 'true';
    }).observe(results, { attributes: true });
  });
  return page;
}

const longestPause = async (page) => Math.max(0, ...await page.evaluate(() => window.longTasks));
const notice = (page) => page.$eval('#notice', (element) => element.textContent);
const settled = (page) => page.waitForFunction(() => window.begun &&
  document.querySelector('#results').getAttribute('aria-busy') === 'false' &&
  !/…$/.test(document.querySelector('#notice').textContent), { timeout: 170000, polling: 100 });
const choose = async (page, names) => (await page.$('#wav-file')).uploadFile(...names.map(at));
async function dropOn(page, names) {
  const box = await (await page.$('#drop')).boundingBox();
  const point = { x: box.x + 20, y: box.y + 20 };
  const data = { items: [], files: names.map(at), dragOperationsMask: 1 };
  await page.mouse.dragEnter(point, data);
  await page.mouse.dragOver(point, data);
  await page.mouse.drop(point, data);
}
const untilRead = (page, share) => page.waitForFunction((s) => document.querySelector('#progress').value >= s,
  { timeout: 60000, polling: 20 }, share);

// The download's bytes hashed in the page as the native ones were.
const downloaded = (page, selector) => page.$eval(selector, async (link, slice) => {
  const blob = await (await fetch(link.href)).blob();
  const digests = [];
  for (let start = 0; start < blob.size || start === 0; start += slice) {
    const digest = await crypto.subtle.digest('SHA-256', await blob.slice(start, start + slice).arrayBuffer());
    digests.push(Array.from(new Uint8Array(digest), (b) => b.toString(16).padStart(2, '0')).join(''));
  }
  return { name: link.download, digests };
}, kSlice);

const listen = async (page) => {
  const before = await page.$eval('#player', (player) => player.src);
  await page.click('#listen');
  await page.waitForFunction((old) => document.querySelector('#player').src !== old &&
    document.querySelector('#player').readyState >= 1, { timeout: 170000 }, before);
  return page.$eval('#player', (player) => ({ src: player.src, duration: player.duration }));
};

// The left channel of the WAV ima2wav makes of a stream: what a player plays.
function played(stream, name) {
  writeFileSync(at(`${name}.ima`), stream);
  execFileSync(join(native, 'ima2wav'), [at(`${name}.ima`), at(`${name}.played.wav`)], { stdio: 'ignore' });
  const wav = readFileSync(at(`${name}.played.wav`));
  return Int16Array.from({ length: (wav.length - 44) / 4 }, (_, i) => wav.readInt16LE(44 + 4 * i));
}
const rms = (samples) => Math.sqrt(samples.reduce((sum, x) => sum + x * x, 0) / samples.length);
// The best correlation of the two within 64 frames of each other.
function correlation(a, b) {
  let best = -1;
  for (let lag = -64; lag <= 64; lag++) {
    let ab = 0, aa = 0, bb = 0;
    for (let i = Math.max(0, -lag); i < Math.min(a.length, b.length - lag); i++) {
      ab += a[i] * b[i + lag];
      aa += a[i] * a[i];
      bb += b[i + lag] * b[i + lag];
    }
    best = Math.max(best, ab / Math.sqrt(aa * bb));
  }
  return best;
}
// What the page prepared, beside what sox's resampling of the same file
// gives through the native programs.
async function likeSox(page, input, correlated) {
  const stream = Buffer.from(await page.$eval('#download', async (link) => [...new Uint8Array(await (await fetch(link.href)).arrayBuffer())]));
  execFileSync('sox', [at(input), '-r', '44100', '-c', '2', '-b', '16', at(`${input}.sox.wav`)]);
  execFileSync(nativeWav2ima, [at(`${input}.sox.wav`), at(`${input}.sox.ima`)], { stdio: 'ignore' });
  const [ours, theirs] = [played(stream, `${input}.page`), played(readFileSync(at(`${input}.sox.ima`)), `${input}.sox`)];
  const level = 20 * Math.log10(rms(ours) / rms(theirs));
  check(Math.abs(ours.length / theirs.length - 1) <= 0.02, `${input} prepared: ${ours.length} frames, sox ${theirs.length}`);
  check(Math.abs(level) <= 3, `${input} prepared: level within 3 dB of sox's (${level.toFixed(2)} dB)`);
  if (correlated) {
    const r = correlation(ours, theirs);
    check(r > 0.9, `${input} prepared: the same waveform as sox's (correlation ${r.toFixed(4)})`);
  }
}

// Each case: the page it needs (the shared one unless said), the files
// chosen or dropped, what happens while they convert, and what must show.
const cases = [
  { name: 'the example among refused files', choose: ['sweep.wav', 'mono48k24.wav', 'truncated.wav'],
    notice: /^Done: 1 stream made, 2 refused by wav2ima\.$/,
    results: ['sweep.wav: sweep.ima 0:04.0, 176,400 bytes Listen',
      'mono48k24.wav: convert error (PCM 24-bit, 1 channel, 48000 Hz, 0.0 s): mono: 1 channel, wav2ima converts stereo; 48000 Hz, wav2ima converts 44100 Hz; 24-bit, wav2ima converts 16-bit Resample to 44.1 kHz stereo and convert',
      'truncated.wav: convert error (PCM 16-bit, 2 channels, 44100 Hz, 0.0 s): cut short: the file ends before its last chunk does Resample to 44.1 kHz stereo and convert'],
    messages: '$ wav2ima sweep.wav sweep.ima\nconverting sweep.wav\nexit status 0\n', download: 'sweep.wav' },
  { name: 'listen twice: one decoded WAV kept', choose: ['sweep.wav'], notice: /^Done/,
    after: async (page) => {
      const first = await listen(page);
      const second = await listen(page);
      check(Math.abs(second.duration - 4) < 0.01, `listen: a playable source of 4 s (${second.duration} s)`);
      check(await page.evaluate((url) => fetch(url).then(() => false, () => true), first.src), 'listen: the previous decoded WAV released');
    } },
  { name: 'several files: a link each and one zip', choose: ['sweep.wav', 'silence.wav'], shot: true,
    notice: /^Done: 2 streams made\.$/, results: [/^sweep\.wav: sweep\.ima/, /^silence\.wav: silence\.ima 0:01\.0/],
    after: async (page) => {
      const zip = await page.$eval('#download-all', async (link) => [...new Uint8Array(await (await fetch(link.href)).arrayBuffer())]);
      const entries = unzipSync(new Uint8Array(zip));
      const want = { 'sweep.ima': 'sweep.wav', 'silence.ima': 'silence.wav' };
      for (const [name, input] of Object.entries(want)) {
        execFileSync(nativeWav2ima, [at(input), at(`${input}.native`)], { stdio: 'ignore' });
        check(Buffer.compare(Buffer.from(entries[name] ?? []), await readFile(at(`${input}.native`))) === 0, `zip: ${name} holds the native bytes`);
      }
      check(Object.keys(entries).length === 2, 'zip: two entries');
    } },
  { name: 'a dropped folder and a file', drop: ['folder', 'folder/notes.txt'],
    notice: /^Done: 2 streams made, 1 refused by wav2ima\.$/,
    results: [/^a\.wav: a\.ima/, /^b\.wav: b\.ima/, 'notes.txt: convert error: not a RIFF/WAVE file'] },
  { name: 'an empty stream: offered, nothing to play', choose: ['empty.wav'], notice: /^Done: 1 stream/,
    results: ['empty.wav: empty.ima 0:00.0, 0 bytes Listen'],
    after: async (page) => {
      await page.click('#listen');
      check(/^empty\.ima is empty: there is nothing to play\.$/.test(await notice(page)), 'an empty stream: nothing to play');
    } },
  { name: '2.5 GB: the native bytes', choose: ['2.5GB.wav'], notice: /^Done: 1 stream/, download: '2.5GB.wav',
    pauses: true },
  { name: '1 GB: bounded memory, no long task, a moving bar', choose: ['1GB.wav'], notice: /^Done: 1 stream/,
    memory: 0.75e9, listen: 1.5e9, pauses: true },
  { name: 'a changed file and a drop during the run', choose: ['1GB.wav', 'changing.wav'],
    during: async (page) => {
      await writeFile(at('changing.wav'), Buffer.concat([sweep, sweep]));
      await dropOn(page, ['sweep.wav']);
    },
    notice: /^changing\.wav could not be read: it is a folder, or it changed or vanished since it was chosen\. Choose it again\.$/,
    results: [/^1GB\.wav: 1GB\.ima/, 'changing.wav: could not be read', /^sweep\.wav: sweep\.ima/] },
  { name: 'a folder chosen as a file', choose: ['folder'], notice: /^folder could not be read/,
    results: ['folder: could not be read'] },
  { name: 'cancel', choose: ['2.5GB.wav', 'sweep.wav'], freshWorker: true,
    during: async (page) => {
      await untilRead(page, 0.01);
      const asked = Date.now();
      await page.click('#cancel');
      await page.waitForFunction(() => /cancelled/.test(document.querySelector('#notice').textContent), { timeout: 1000 });
      check(Date.now() - asked < 1000, 'cancel: stopped within a second');
    },
    notice: /^Conversion of 2\.5GB\.wav cancelled: nothing was made of it\.$/,
    results: ['2.5GB.wav: cancelled', 'sweep.wav: cancelled'], noDownload: true },
  { name: 'after cancel the page converts', choose: ['sweep.wav'], notice: /^Done: 1 stream/, download: 'sweep.wav',
    freshWorker: true },
  { name: 'a 48 kHz mono WAV, prepared on request', choose: ['voice48k.wav'], notice: /^Done: 0 streams made, 1 refused/,
    results: ['voice48k.wav: convert error (PCM 16-bit, 1 channel, 48000 Hz, 3.0 s): mono: 1 channel, wav2ima converts stereo; 48000 Hz, wav2ima converts 44100 Hz Resample to 44.1 kHz stereo and convert'],
    prepare: { notice: /^Done: 1 stream made\.$/, messages: /prepared voice48k-prepared\.wav from voice48k\.wav \(PCM 16-bit, 1 channel, 48000 Hz, 3\.0 s\): resampled to 44100 Hz by the browser, stereo, 16-bit\n\$ wav2ima voice48k-prepared\.wav voice48k\.ima\nconverting voice48k-prepared\.wav\nexit status 0\n$/,
      like: 'voice48k.wav', correlated: true } },
  { name: 'an MP3, prepared on request', choose: ['tune.mp3'], notice: /^Done: 0 streams made, 1 refused/,
    results: ['tune.mp3: convert error: not a RIFF/WAVE file Resample to 44.1 kHz stereo and convert'],
    prepare: { notice: /^Done: 1 stream made\.$/, messages: /prepared tune-prepared\.wav from tune\.mp3 \(audio\/mpeg, 2 channels, 3\.\d s\)/, like: 'tune.mp3' } },
  { name: 'over an hour: not prepared', choose: ['hour.wav'], notice: /^Done: 0 streams made, 1 refused/,
    prepare: { notice: /^hour\.wav is longer than one hour: preparing holds all of the decoded audio in memory, so the page prepares at most one hour\. sox or ffmpeg can resample it\.$/ } },
  { name: 'a program that did not load', page: { failOnce: 'wav2ima/wav2ima.wasm' },
    atLoad: /^The converter could not be loaded \(wav2ima\/wav2ima\.wasm: 404/,
    choose: ['sweep.wav'], notice: /^Done: 1 stream/, download: 'sweep.wav' },
  { name: 'a worker that died', page: { failOnce: 'worker.js' },
    atLoad: /^The converter stopped \(.*\)\. It starts afresh with the next file\.$/,
    choose: ['sweep.wav'], notice: /^Done: 1 stream/, download: 'sweep.wav' },
  { name: 'opened from the disk', page: { url: `file://${resolve(folder)}/index.html` },
    atLoad: /^This page must be served, not opened from the disk.*python3 -m http\.server/ },
];

// The package installed from its tarball into an empty project, with the
// example and a truncated WAV one folder above where the commands run.
async function testPackage() {
  const project = at('project');
  const work = join(project, 'work');
  await mkdir(work, { recursive: true });
  await writeFile(join(project, 'package.json'), '{ "name": "user", "private": true, "type": "module" }\n');
  const run = (command, args, cwd) => spawnSync(command, args, { cwd, encoding: 'utf8' });
  check(run('npm', ['install', '--no-audit', '--no-fund', tarball], project).status === 0, 'package: installed');
  await cp(at('sweep.wav'), join(project, 'sweep.wav'));
  await cp(at('truncated.wav'), join(project, 'cut.wav'));
  run(nativeWav2ima, ['sweep.wav', 'sweep.ima'], project);
  run(join(native, 'ima2wav'), ['sweep.ima', 'sweep-decoded.wav'], project);
  const bytes = (path) => readFile(path).catch(() => Buffer.alloc(0));
  // Each command by npx and natively, on relative, upward and absolute paths.
  for (const [program, input] of [['wav2ima', '../sweep.wav'], ['wav2ima', join(project, 'cut.wav')],
    ['wav2ima', 'missing.wav'], ['ima2wav', '../sweep.ima']]) {
    const [npx, want] = [run('npx', ['--no', program, input, 'npx.out'], work), run(join(native, program), [input, 'native.out'], work)];
    const same = (await bytes(join(work, 'npx.out'))).equals(await bytes(join(work, 'native.out')));
    check(npx.status === want.status && npx.stdout + npx.stderr === want.stdout + want.stderr && same,
      `package: npx ${program} ${input} as natively (status ${npx.status}, ${JSON.stringify(npx.stdout + npx.stderr)})`);
    await Promise.all(['npx.out', 'native.out'].map((name) => rm(join(work, name), { force: true })));
  }
  const script = `import { readFile } from 'node:fs/promises';
    import { createHash } from 'node:crypto';
    import { wav2ima, ima2wav } from 'wav2ima';
    const hash = (bytes) => createHash('sha256').update(bytes).digest('hex');
    const stream = await wav2ima(await readFile('sweep.wav'));
    const refused = await wav2ima(await readFile('cut.wav')).catch((error) => error);
    console.log(JSON.stringify({ hashes: [hash(stream), hash(await ima2wav(stream.buffer))],
      refused: refused instanceof Error && [refused.message, refused.status] }));`;
  const library = JSON.parse(run('node', ['--input-type=module', '-e', script], project).stdout);
  const hash = async (name) => createHash('sha256').update(await readFile(join(project, name))).digest('hex');
  check(library.hashes.join() === [await hash('sweep.ima'), await hash('sweep-decoded.wav')].join(),
    'package: the library gives the native bytes');
  check(library.refused?.join() === 'convert error,1', `package: a truncated WAV rejects with "convert error", status 1 (${library.refused})`);

  // A page that imports the package alone, built by Vite as its lock file pins it.
  const vite = join(project, 'vite-page');
  await cp(new URL('vite-page', import.meta.url), vite, { recursive: true, filter: (path) => !path.includes('node_modules') });
  const built = [['npm', ['ci', '--no-audit', '--no-fund']], ['npm', ['install', '--no-save', '--no-audit', '--no-fund', tarball]],
    ['npx', ['--no', 'vite', 'build']]].every(([command, args]) => run(command, args, vite).status === 0);
  check(built, 'package: a page built by Vite');
  await cp(at('sweep.wav'), join(vite, 'dist', 'sweep.wav'));
  const viteServer = await serve(join(vite, 'dist'));
  const page = await browser.newPage();
  await page.goto(`http://127.0.0.1:${viteServer.address().port}/`);
  await page.waitForFunction(() => !/…$/.test(document.querySelector('#result').textContent), { timeout: 60000 });
  const shown = await page.$eval('#result', (element) => element.textContent);
  check(shown === await hash('sweep.ima'), `package: the Vite page converts the example to the native bytes (${shown})`);
  viteServer.close();
}

const shared = await openPage();
try {
  for (const row of cases) {
    console.log(`-- ${row.name}`);
    const page = row.page ? await openPage(row.page) : shared;
    if (row.atLoad) {
      await page.waitForFunction((re) => new RegExp(re).test(document.querySelector('#notice').textContent),
        { timeout: 10000 }, row.atLoad.source).catch(() => {});
      check(row.atLoad.test(await notice(page)), `${row.name}: at load, ${await notice(page)}`);
    }
    if (!row.choose && !row.drop) continue;
    const wanted = row.download ? nativeDigests(row.download) : null;
    const requestsBefore = page.requests.length;
    await page.evaluate(() => {
      window.longTasks.splice(0);
      window.begun = false;
    });
    const pids = row.memory ? await browserPids(browser.process().pid) : [];
    const shares = new Set();
    const watcher = setInterval(() => page.$eval('#progress', (bar) => bar.value).then((v) => shares.add(v), () => {}), 100);
    const { grew } = await growth(pids, async () => {
      if (row.choose) await choose(page, row.choose);
      else await dropOn(page, row.drop);
      await row.during?.(page);
      await settled(page);
    });
    clearInterval(watcher);

    if (row.pauses) {
      const longest = await longestPause(page);
      check(longest <= 50, `${row.name}: no main-thread task over 50 ms (${longest} ms)`);
    }
    const said = await notice(page);
    check(row.notice.test(said), `${row.name}: ${said}`);
    const results = await page.$$eval('#results li', (items) => items.map((item) => item.textContent));
    for (const [i, want] of (row.results ?? []).entries()) {
      check(typeof want === 'string' ? results[i] === want : want.test(results[i] ?? ''), `${row.name}: ${results[i]}`);
    }
    if (row.messages) check((await page.$eval('#messages', (e) => e.textContent)).startsWith(row.messages), `${row.name}: the program's messages`);
    if (row.download) {
      const got = await downloaded(page, '#download');
      const want = await wanted;
      check(got.name === row.download.replace(/\.wav$/, '.ima') && got.digests.join() === want.join(),
        `${row.name}: ${got.name} holds the native bytes (${want.length} slices)`);
    }
    if (row.noDownload) check(await page.$('#download') === null, `${row.name}: nothing offered`);
    if (row.memory) {
      check(grew <= row.memory, `${row.name}: the browser grew by ${(grew / 1e9).toFixed(2)} GB`);
      check([...shares].filter((s) => s > 0 && s < 1).length >= 3, `${row.name}: the bar moved`);
    }
    if (row.listen) {
      await page.evaluate(() => window.longTasks.splice(0));
      const listened = await growth(pids, () => listen(page));
      const longest = await longestPause(page);
      check(longest <= 50, `${row.name}: no main-thread task over 50 ms while listening (${longest} ms)`);
      check(Math.abs(listened.result.duration - 250_000_000 / 44100) < 0.01 && listened.grew <= row.listen,
        `${row.name}: listen grew the browser by ${(listened.grew / 1e9).toFixed(2)} GB`);
    }
    // Nothing fetched after the load but blob: and data: URLs, the page's
    // own bytes, and a fresh worker's scripts after one was ended.
    const fetched = page.requests.slice(requestsBefore).filter((url) => !/^(blob|data):/.test(url) &&
      !(row.freshWorker && url.startsWith(origin) && url.endsWith('.js')) && !row.page);
    check(fetched.length === 0, `${row.name}: nothing fetched ${JSON.stringify(fetched)}`);
    if (row.prepare) {
      await page.evaluate(() => {
        window.begun = false;
      });
      await page.evaluate(() => window.longTasks.splice(0));
      await page.click('#prepare');
      await settled(page);
      console.log(`     longest pause while preparing: ${await longestPause(page)} ms`);
      const prepared = await notice(page);
      check(row.prepare.notice.test(prepared), `${row.name}: ${prepared}`);
      const said = await page.$eval('#messages', (e) => e.textContent);
      if (row.prepare.messages) check(row.prepare.messages.test(said), `${row.name}: the messages say what was prepared (${said.split('\n').find((line) => line.startsWith('prepared'))})`);
      if (row.prepare.like) await likeSox(page, row.prepare.like, row.prepare.correlated);
    }
    await row.after?.(page);
    if (row.shot) await page.screenshot({ path: screenshot, fullPage: true });
    if (page !== shared) await page.close();
  }
  const dark = await shared.emulateMediaFeatures([{ name: 'prefers-color-scheme', value: 'dark' }])
    .then(() => shared.$eval('body', (body) => getComputedStyle(body).backgroundColor));
  check(dark === 'rgb(22, 25, 28)', `a dark theme where asked for (${dark})`);
  if (tarball) await testPackage();
} finally {
  await browser.close();
  server.close();
  await rm(scratch, { recursive: true });
}
if (failures.length > 0) {
  console.log(`${failures.length} failed`);
  process.exit(1);
}
