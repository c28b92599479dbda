// The page in a real browser: Debian's chromium, headless, driven by
// puppeteer-core, over a plain static server. One table of cases, each a
// set of files chosen or dropped, what happens while they convert, and what
// the page must show and offer; the streams are compared with the native
// build's, zips are read by Debian's unzip, and axe-core judges the page.
// Big inputs are sparse files.
//
// Guards on time and memory are wide (a main-thread task over 500 ms fails)
// and print what they measured; bench/page.mjs measures the tight targets.
//
//   node web/page_test.mjs build-wasi/web NATIVE_BUILD examples/sweep.wav SHOT.png
//
// PAGE_CASES=regex runs the cases whose names it matches.
import { execFileSync, spawnSync } from 'node:child_process';
import { createHash } from 'node:crypto';
import { readFileSync, writeFileSync } from 'node:fs';
import { mkdir, mkdtemp, readFile, rm, stat, truncate, unlink, writeFile } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { browserPids, growth, launch, serve } from '../tools/browser.mjs';
import { sparseWav, wavHeader } from '../tools/wav_inputs.mjs';

const [folder, native, example, screenshot] = process.argv.slice(2).map((path) => resolve(path));
const nativeWav2ima = join(native, 'wav2ima');
const nativeImaenc = join(native, 'imaenc');
/** @typedef {import('puppeteer-core').Page & {requests: string[]}} TestPage */
/** @type {string[]} */
const failures = [];
/**
 * @param {boolean} ok
 * @param {string} what
 */
function check(ok, what) {
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${what}`);
  if (!ok) failures.push(what);
}

// `failNext` names files whose next request fails, as on a flaky network:
// a program is not found, a worker's script throws.
const failNext = new Set();
const server = await serve(folder, failNext);
const origin = `http://127.0.0.1:${server.address().port}/`;

// The inputs: WAV files by their format fields, sparse ones by size.
const scratch = await mkdtemp(join(tmpdir(), 'wav2ima-page-'));
const at = (/** @type {string} */ name) => join(scratch, name);
const sweep = await readFile(example);
await writeFile(at('sweep.wav'), sweep);
await writeFile(at('truncated.wav'), sweep.subarray(0, 1000));
await writeFile(
  at('mono48k24.wav'),
  Buffer.concat([
    wavHeader({ channels: 1, rate: 48000, bits: 24, dataSize: 300 }),
    Buffer.alloc(300),
  ]),
);
await writeFile(
  at('silence.wav'),
  Buffer.concat([wavHeader({ dataSize: 4 * 44100 }), Buffer.alloc(4 * 44100)]),
);
await writeFile(at('empty.wav'), wavHeader({ dataSize: 0 }));
await writeFile(at('zero.wav'), Buffer.alloc(0));
const align0 = wavHeader({ dataSize: 400 });
align0.writeUInt32LE(0, 28);
align0.writeUInt16LE(0, 32);
await writeFile(at('align0.wav'), Buffer.concat([align0, Buffer.alloc(400)]));
for (const name of ['changing.wav', 'gone.wav', 'emptied.wav']) await writeFile(at(name), sweep);
await mkdir(at('folder/inner'), { recursive: true });
await mkdir(at('folder/other'), { recursive: true });
await writeFile(at('folder/inner/x.wav'), sweep);
await writeFile(at('folder/other/x.wav'), sweep);
await writeFile(at('folder/notes.txt'), 'not audio');
// Names from every script and of every length, and names no file system
// of another kind would take.
const oddNames = [
  'Моя запись 1.wav',
  '회의 녹음.wav',
  'éééééééééééé.wav',
  '録音データ 2024 年 第三回目 の 会議.wav',
  '音音音音音音.wav',
  '.wav',
  'take.ima',
  'a:b*c?"d|e.wav',
  '..\\..\\evil.wav',
  'new\nline.wav',
  'CON.wav',
  `${'long '.repeat(48)}name.wav`,
];
for (const name of oddNames) await writeFile(at(name), sweep);
await sparseWav(at('1GB.wav'), 1_000_000_000);
await sparseWav(at('2.5GB.wav'), 2_500_000_000);
// 2,999.99998 s: the stream's length as people read it is 50:00.0.
await sparseWav(at('fifty.wav'), 4 * 132_299_999);
// 3,600.1 s: an hour and a tenth of a second.
await sparseWav(at('hour.wav'), 4 * 158_764_410);
// More than 4 GiB of streams, for a zip that needs ZIP64: a streaming
// writer's WAV, its sizes unknown, running past 16 GiB.
await sparseWav(at('17GB.wav'), 4 * 4_400_000_000, { unknownSize: true });

// A 48 kHz mono voice, which wav2ima refuses; made again after a row
// that empties it.
function makeVoice48k() {
  const format = ['-r', '48000', '-c', '1', '-b', '16'];
  const sound = ['synth', '3', 'sine', '300-3000', 'vol', '0.5'];
  execFileSync('sox', ['-n', ...format, at('voice48k.wav'), ...sound]);
}

// Audio wav2ima refuses, made by sox: a 48 kHz voice, an MP3, the same MP3
// damaged by 6 MB of noise after it, and noise called MP3; a 5.1 mix that
// clips once mixed down, and long ones past the budget.
makeVoice48k();
execFileSync('sox', [
  '-n',
  '-r',
  '44100',
  '-c',
  '2',
  at('tune.mp3'),
  'synth',
  '3',
  'sine',
  '440',
  'sine',
  '660',
  'vol',
  '0.5',
]);
const noise = Buffer.from(Array.from({ length: 6 << 20 }, (_, i) => (i * 7919 + (i >> 7)) & 0xff));
await writeFile(at('damaged.mp3'), Buffer.concat([await readFile(at('tune.mp3')), noise]));
await writeFile(at('noise.mp3'), noise.subarray(0, 1 << 16));
execFileSync('sox', [
  '-n',
  '-r',
  '44100',
  '-c',
  '6',
  '-b',
  '16',
  at('loud51.wav'),
  'synth',
  '10',
  'sine',
  '440',
  'vol',
  '0.9',
]);
execFileSync('sox', [
  '-n',
  '-r',
  '48000',
  '-c',
  '6',
  '-b',
  '16',
  at('long51.flac'),
  'trim',
  '0',
  '3300',
]);
await sparseWav(at('long51.wav'), 6 * 2 * 48000 * 3300, { channels: 6, rate: 48000 });
await sparseWav(at('seventy.wav'), 4 * 48000 * 4200, { rate: 48000 });

// What the native build makes of an input, as SHA-256 digests of 64 MiB
// slices: the page's download is hashed the same way.
const kSlice = 64 << 20;
// The native stream's digests, slice by slice: wav2ima's, or imaenc's at `level`.
/**
 * @param {string} name
 * @param {string | null} [level]
 * @returns {Promise<string[]>}
 */
function nativeDigests(name, level = null) {
  const [program, options] = level === null ? [nativeWav2ima, []] : [nativeImaenc, [`-${level}`]];
  execFileSync(program, [...options, at(name), at(`${name}.native`)], { stdio: 'ignore' });
  return readFile(at(`${name}.native`)).then((bytes) => {
    const digests = [];
    for (let start = 0; start < bytes.length || start === 0; start += kSlice) {
      digests.push(
        createHash('sha256')
          .update(bytes.subarray(start, start + kSlice))
          .digest('hex'),
      );
    }
    return digests;
  });
}

const browser = await launch();
const downloads = at('downloads');
await mkdir(downloads);
const browserSession = await browser.target().createCDPSession();
await browserSession.send('Browser.setDownloadBehavior', {
  behavior: 'allow',
  downloadPath: downloads,
  eventsEnabled: true,
});

// A fresh page; `failOnce` makes the next request for that file fail.
/**
 * @param {{url?: string, failOnce?: string | null}} [options]
 * @returns {Promise<TestPage>}
 */
async function openPage({ url = origin, failOnce = null } = {}) {
  if (failOnce) failNext.add(failOnce);
  const page = /** @type {TestPage} */ (await browser.newPage());
  await page.setViewport({ width: 800, height: 900 });
  page.requests = [];
  page.on('request', (request) => page.requests.push(request.url()));
  await page.goto(url, { waitUntil: 'networkidle0' });
  await page.evaluate(() => {
    window.longTasks = [];
    new PerformanceObserver((list) =>
      window.longTasks.push(...list.getEntries().map((entry) => entry.duration)),
    ).observe({ type: 'longtask' });
    // A run has begun once the list is busy; it has ended when it is not.
    // The live region's words are counted as they change.
    window.begun = false;
    window.announced = 0;
    const results = /** @type {HTMLElement} */ (document.querySelector('#results'));
    new MutationObserver(() => {
      window.begun ||= results.getAttribute('aria-busy') === 'true';
    }).observe(results, { attributes: true });
    new MutationObserver(() => {
      window.announced += 1;
    }).observe(/** @type {HTMLElement} */ (document.querySelector('#notice')), {
      childList: true,
      characterData: true,
      subtree: true,
    });
  });
  return page;
}

/** @typedef {import('puppeteer-core').Page} Page */
/** @param {Page} page */
const longestPause = async (page) => Math.max(0, ...(await page.evaluate(() => window.longTasks)));
/** @param {Page} page */
const notice = (page) => page.$eval('#notice', (element) => element.textContent ?? '');
/** @param {Page} page */
const settled = (page) =>
  page.waitForFunction(
    () => window.begun && document.querySelector('#results')?.getAttribute('aria-busy') === 'false',
    { timeout: 600000, polling: 100 },
  );
/** @param {Page} page */
const handle = async (page, /** @type {string} */ selector) => {
  const found = await page.$(selector);
  if (found === null) throw new Error(`the page has no ${selector}`);
  return found;
};
/**
 * @param {Page} page
 * @param {string[]} names
 */
const choose = async (page, names) =>
  /** @type {import('puppeteer-core').ElementHandle<HTMLInputElement>} */ (
    await handle(page, '#wav-file')
  ).uploadFile(...names.map(at));
/**
 * @param {Page} page
 * @param {string[]} names
 */
async function dropOn(page, names) {
  const box = await (await handle(page, '#drop')).boundingBox();
  if (box === null) throw new Error('the drop zone is not shown');
  const point = { x: box.x + 20, y: box.y + 20 };
  const data = { items: [], files: names.map(at), dragOperationsMask: 1 };
  await page.mouse.dragEnter(point, data);
  await page.mouse.dragOver(point, data);
  await page.mouse.drop(point, data);
}
// The folder chooser as a keyboard works it: the button focused, Enter.
/**
 * @param {Page} page
 * @param {string} name
 */
async function chooseFolderByKeyboard(page, name) {
  const waiting = page.waitForFileChooser();
  await page.focus('#choose-folder');
  await new Promise((done) => setTimeout(done, 200)); // the interception is in place
  await page.keyboard.press('Enter');
  await (await waiting).accept([at(name)]);
}
/** @type {(page: Page, share: number) => Promise<unknown>} */
const untilRead = (page, share) =>
  page.waitForFunction(
    (s) => /** @type {HTMLProgressElement} */ (document.querySelector('#progress')).value >= s,
    { timeout: 60000, polling: 20 },
    share,
  );
const link = (/** @type {number} */ row) => `#results > li:nth-child(${row}) a[download]`;
/** @type {(row: number, label: string) => string} */
const rowButton = (row, label) => `#results > li:nth-child(${row}) button[aria-label^="${label}"]`;

// The download's bytes hashed in the page as the native ones were.
/** @type {(page: Page, selector: string) => Promise<{name: string, digests: string[]}>} */
const downloaded = (page, selector) =>
  page.$eval(
    selector,
    async (found, slice) => {
      const element = /** @type {HTMLAnchorElement} */ (found);
      const blob = await (await fetch(element.href)).blob();
      const digests = [];
      for (let start = 0; start < blob.size || start === 0; start += slice) {
        const digest = await crypto.subtle.digest(
          'SHA-256',
          await blob.slice(start, start + slice).arrayBuffer(),
        );
        digests.push(
          Array.from(new Uint8Array(digest), (b) => b.toString(16).padStart(2, '0')).join(''),
        );
      }
      return { name: element.download, digests };
    },
    kSlice,
  );
/** @type {(page: Page, selector: string) => Promise<Buffer>} */
const bytesOf = async (page, selector) =>
  Buffer.from(
    await page.$eval(selector, async (element) => [
      ...new Uint8Array(
        await (await fetch(/** @type {HTMLAnchorElement} */ (element).href)).arrayBuffer(),
      ),
    ]),
  );

/** @type {(page: Page, row?: number) => Promise<{src: string, duration: number}>} */
const listen = async (page, row = 1) => {
  const before = await page.$eval(
    '#player',
    (found) => /** @type {HTMLAudioElement} */ (found).src,
  );
  await page.click(rowButton(row, 'Listen'));
  await page.waitForFunction(
    (old) => {
      const audio = /** @type {HTMLAudioElement} */ (document.querySelector('#player'));
      return audio.src !== old && audio.readyState >= 1;
    },
    { timeout: 170000 },
    before,
  );
  return page.$eval('#player', (found) => {
    const audio = /** @type {HTMLAudioElement} */ (found);
    return { src: audio.src, duration: audio.duration };
  });
};

// The zip "download all" makes, as the browser saves it: {path, names}.
/** @param {Page} page */
async function downloadZip(page) {
  const saved = new Promise((done) =>
    browserSession.on('Browser.downloadProgress', (event) => {
      if (event.state === 'completed') done(undefined);
    }),
  );
  await rm(join(downloads, 'wav2ima-streams.zip'), { force: true });
  await page.evaluate(() => {
    window.begun = false;
  });
  await page.click('#download-all');
  await saved;
  const path = join(downloads, 'wav2ima-streams.zip');
  const names = execFileSync('unzip', ['-Z1', path], { encoding: 'utf8' })
    .split('\n')
    .filter(Boolean);
  return { path, names };
}
const zipTested = (/** @type {string} */ path) =>
  spawnSync('unzip', ['-tq', path], { encoding: 'utf8' });

// axe-core's findings on the page as it stands, in the light and the dark
// theme: none may remain.
/**
 * @param {Page} page
 * @param {string} when
 */
async function accessible(page, when) {
  await page.addScriptTag({
    path: new URL('../node_modules/axe-core/axe.min.js', import.meta.url).pathname,
  });
  for (const theme of ['light', 'dark']) {
    await page.emulateMediaFeatures([{ name: 'prefers-color-scheme', value: theme }]);
    const found = await page.evaluate(async () =>
      (await window.axe.run(document)).violations.map(
        (v) => `${v.id}: ${v.nodes.map((n) => n.target.join(' ')).join(', ')}`,
      ),
    );
    check(
      found.length === 0,
      `axe-core, ${theme} theme, ${when}: ${found.length === 0 ? 'nothing found' : found.join('; ')}`,
    );
  }
  await page.emulateMediaFeatures([{ name: 'prefers-color-scheme', value: 'light' }]);
}
/** @param {Page} page */
const focused = (page) =>
  page.evaluate(() => document.activeElement?.id || document.activeElement?.tagName);

// The left channel of the WAV ima2wav makes of a stream: what a player plays.
/**
 * @param {Uint8Array} stream
 * @param {string} name
 * @param {number} [channel]
 */
function played(stream, name, channel = 0) {
  writeFileSync(at(`${name}.ima`), stream);
  execFileSync(join(native, 'ima2wav'), [at(`${name}.ima`), at(`${name}.played.wav`)], {
    stdio: 'ignore',
  });
  const wav = readFileSync(at(`${name}.played.wav`));
  return Int16Array.from({ length: (wav.length - 44) / 4 }, (_, i) =>
    wav.readInt16LE(44 + 4 * i + 2 * channel),
  );
}
const rms = (/** @type {Int16Array} */ samples) =>
  Math.sqrt(samples.reduce((sum, x) => sum + x * x, 0) / samples.length);
// The best correlation of the two within 64 frames of each other.
/**
 * @param {Int16Array} a
 * @param {Int16Array} b
 */
function correlation(a, b) {
  let best = -1;
  for (let lag = -64; lag <= 64; lag++) {
    let ab = 0,
      aa = 0,
      bb = 0;
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
/**
 * @param {Page} page
 * @param {string} input
 * @param {boolean | undefined} correlated
 */
async function likeSox(page, input, correlated) {
  const stream = await bytesOf(page, link(1));
  execFileSync('sox', [at(input), '-r', '44100', '-c', '2', '-b', '16', at(`${input}.sox.wav`)]);
  execFileSync(nativeWav2ima, [at(`${input}.sox.wav`), at(`${input}.sox.ima`)], {
    stdio: 'ignore',
  });
  const [ours, theirs] = [
    played(stream, `${input}.page`),
    played(readFileSync(at(`${input}.sox.ima`)), `${input}.sox`),
  ];
  const level = 20 * Math.log10(rms(ours) / rms(theirs));
  check(
    Math.abs(ours.length / theirs.length - 1) <= 0.02,
    `${input} prepared: ${ours.length} frames, sox ${theirs.length}`,
  );
  check(
    Math.abs(level) <= 3,
    `${input} prepared: level within 3 dB of sox's (${level.toFixed(2)} dB)`,
  );
  if (correlated) {
    const r = correlation(ours, theirs);
    check(r > 0.9, `${input} prepared: the same waveform as sox's (correlation ${r.toFixed(4)})`);
  }
}
// The share of samples at full scale in what a player plays of the stream.
/** @param {Page} page */
async function atTheRails(page) {
  const stream = await bytesOf(page, link(1));
  const samples = [0, 1].flatMap((channel) => [...played(stream, `rails${channel}`, channel)]);
  return samples.filter((x) => x >= 32767 || x <= -32768).length / samples.length;
}

const kPause = 500; // ms: a main-thread task this long fails; bench/page.mjs holds 50
// biome-ignore lint/suspicious/noControlCharactersInRegex: control characters are what it finds
const safeDownload = (/** @type {string} */ name) => !/[<>:"/\\|?*\u0000-\u001f]|^\./.test(name);
const prepareAgain = '^Done: 0 streams made, 1 refused by wav2ima\\.$';

/**
 * What Resample does on a case's first row, and what the page then says.
 * @typedef {object} PrepareCase
 * @property {RegExp} notice
 * @property {RegExp} [messages]
 * @property {string} [like] the input whose resampling by sox it is compared with
 * @property {boolean} [correlated]
 * @property {string} [axe]
 * @property {number} [rails]
 * @property {number} [memory]
 */
/**
 * @typedef {object} Case
 * @property {string} name
 * @property {{url?: string, failOnce?: string | null}} [page] a page of its own
 * @property {RegExp} [atLoad]
 * @property {string[]} [choose]
 * @property {string[]} [drop]
 * @property {string} [chooseFolder]
 * @property {string} [level]
 * @property {RegExp} [notice]
 * @property {(string | RegExp)[]} [results]
 * @property {string} [messages]
 * @property {string} [download]
 * @property {boolean} [noDownload]
 * @property {boolean} [pauses]
 * @property {number} [memory]
 * @property {number} [listen]
 * @property {boolean} [freshWorker]
 * @property {string} [axe]
 * @property {boolean} [shot]
 * @property {(page: TestPage) => Promise<unknown>} [during]
 * @property {(page: TestPage) => Promise<unknown> | void} [after]
 * @property {() => Promise<unknown> | void} [beforePrepare]
 * @property {PrepareCase} [prepare]
 */

// Each case: the page it needs (the shared one unless said), the files
// chosen or dropped, what happens while they convert, and what must show.
/** @type {Case[]} */
const cases = [
  {
    name: 'the example among refused files',
    choose: ['sweep.wav', 'mono48k24.wav', 'truncated.wav', 'zero.wav', 'align0.wav'],
    notice: /^Done: 1 stream made, 4 refused by wav2ima\.$/,
    axe: 'a batch with refusals',
    results: [
      'sweep.wav: sweep.ima 0:04.0, 176,400 bytes Listen',
      'mono48k24.wav: convert error (PCM 24-bit, 1 channel, 48000 Hz, 0.0 s): mono: 1 channel, wav2ima converts stereo; 48000 Hz, wav2ima converts 44100 Hz; 24-bit, wav2ima converts 16-bit Resample to 44.1 kHz stereo and convert',
      'truncated.wav: convert error (PCM 16-bit, 2 channels, 44100 Hz, 0.0 s): cut short: the file ends before its last chunk does Resample to 44.1 kHz stereo and convert',
      'zero.wav: convert error: empty: the file holds no bytes',
      'align0.wav: convert error (PCM 16-bit, 2 channels, 44100 Hz, 0.0 s): 0 bytes per second in its header, wav2ima reads 176400 Resample to 44.1 kHz stereo and convert',
    ],
    messages: '$ wav2ima sweep.wav sweep.ima\nconverting sweep.wav\nexit status 0\n',
    download: 'sweep.wav',
    after: async (page) => {
      check(
        (await focused(page)) === 'LI',
        `a batch: the focus on its first row (${await focused(page)})`,
      );
      const announced = await page.evaluate(() => window.announced);
      check(
        announced <= 6,
        `a batch of 5: ${announced} lines announced, one a file and the summary`,
      );
      check(
        (await page.$eval(rowButton(2, 'Resample'), (b) => b.getAttribute('aria-label'))) ===
          'Resample to 44.1 kHz stereo and convert mono48k24.wav',
        'the Resample button names its file',
      );
    },
  },
  {
    name: 'a level chosen: imaenc at that level, its native bytes',
    level: '5',
    choose: ['sweep.wav'],
    notice: /^Done: 1 stream made\.$/,
    messages: '$ imaenc -5 sweep.wav sweep.ima\nexit status 0\n',
    download: 'sweep.wav',
  },
  {
    name: 'listen twice: one decoded WAV kept',
    page: {},
    choose: ['sweep.wav'],
    notice: /^Done/,
    after: async (page) => {
      const shown = () =>
        page.$eval('#player', (player) => !(/** @type {HTMLElement} */ (player).hidden));
      check(!(await shown()), 'listen: no player in the tab order before anything plays');
      const first = await listen(page);
      check(await shown(), 'listen: the player shown once it plays');
      const second = await listen(page);
      check(
        Math.abs(second.duration - 4) < 0.01,
        `listen: a playable source of 4 s (${second.duration} s)`,
      );
      check(
        await page.evaluate(
          (url) =>
            fetch(url).then(
              () => false,
              () => true,
            ),
          first.src,
        ),
        'listen: the previous decoded WAV released',
      );
    },
  },
  {
    name: 'several files: one zip, made when asked',
    choose: ['sweep.wav', 'silence.wav'],
    shot: true,
    notice: /^Done: 2 streams made\.$/,
    results: [/^sweep\.wav: sweep\.ima/, /^silence\.wav: silence\.ima 0:01\.0/],
    after: async (page) => {
      check(
        await page.$eval(
          '#download-all',
          (a) => !(/** @type {HTMLAnchorElement} */ (a).href.startsWith('blob:')),
        ),
        'zip: none made before it is asked for',
      );
      const { path, names } = await downloadZip(page);
      check(
        names.join() === 'sweep.ima,silence.ima' && zipTested(path).status === 0,
        `zip: ${names}, tested by unzip`,
      );
      for (const [name, input] of [
        ['sweep.ima', 'sweep.wav'],
        ['silence.ima', 'silence.wav'],
      ]) {
        execFileSync(nativeWav2ima, [at(input), at(`${input}.native`)], { stdio: 'ignore' });
        check(
          execFileSync('unzip', ['-p', path, name]).equals(await readFile(at(`${input}.native`))),
          `zip: ${name} holds the native bytes`,
        );
      }
    },
  },
  {
    name: 'a dropped folder and a file: paths kept',
    drop: ['folder', 'folder/notes.txt'],
    notice: /^Done: 2 streams made, 1 refused by wav2ima\. 1 file of the folder skipped: not WAV\./,
    results: [
      /^folder\/inner\/x\.wav: x\.ima/,
      /^folder\/other\/x\.wav: x-2\.ima/,
      'notes.txt: convert error: not a RIFF/WAVE file',
    ],
    after: async (page) => {
      const { names } = await downloadZip(page);
      check(
        names.join() === 'folder/inner/x.ima,folder/other/x.ima',
        `zip: each stream in its folder (${names})`,
      );
    },
  },
  {
    name: 'a folder chosen by keyboard',
    chooseFolder: 'folder',
    notice: /^Done: 2 streams made\. 1 file of the folder skipped: not WAV\./,
    results: [/^folder\/inner\/x\.wav: x\.ima/, /^folder\/other\/x\.wav: x-2\.ima/],
  },
  {
    name: 'names from every script and of any length',
    choose: oddNames,
    notice: new RegExp(`^Done: ${oddNames.length} streams made\\.$`),
    after: async (page) => {
      const names = await page.$$eval('#results a[download]', (links) =>
        links.map((a) => a.download),
      );
      const unique = new Set(names.map((name) => name.toLowerCase()));
      check(
        names.every(safeDownload) && unique.size === oddNames.length,
        `downloads safe and unique: ${JSON.stringify(names)}`,
      );
      check(
        names.includes('stream.ima') && names.includes('take.ima') && names.includes('_CON.ima'),
        'downloads: .wav, take.ima and CON.wav',
      );
      const zip = await downloadZip(page);
      check(zip.names.join() === names.join(), 'zip: the entries are the downloads');
      await page.setViewport({ width: 390, height: 900 });
      const width = await page.evaluate(() => document.documentElement.scrollWidth);
      check(width <= 390, `no name makes the page wider than a 390 px screen (${width} px)`);
      await page.setViewport({ width: 800, height: 900 });
    },
  },
  {
    name: 'an empty stream: offered, nothing to play',
    choose: ['empty.wav'],
    notice: /^Done: 1 stream/,
    results: ['empty.wav: empty.ima 0:00.0, 0 bytes Listen'],
    after: async (page) => {
      await page.click(rowButton(1, 'Listen'));
      check(
        /^empty\.ima is empty: there is nothing to play\.$/.test(await notice(page)),
        'an empty stream: nothing to play',
      );
    },
  },
  {
    name: 'fifty minutes and an hour read as people read them',
    choose: ['fifty.wav', 'hour.wav'],
    notice: /^Done: 2 streams/,
    results: [
      'fifty.wav: fifty.ima 50:00.0, 132,299,999 bytes Listen',
      'hour.wav: hour.ima 1:00:00.1, 158,764,410 bytes Listen',
    ],
  },
  {
    name: '2.5 GB: the native bytes',
    choose: ['2.5GB.wav'],
    notice: /^Done: 1 stream/,
    download: '2.5GB.wav',
    pauses: true,
  },
  {
    name: '1 GB: bounded memory, no long task, a moving bar',
    choose: ['1GB.wav'],
    notice: /^Done: 1 stream/,
    memory: 1.5e9,
    listen: 3e9,
    pauses: true,
  },
  {
    name: 'files changed, vanished or emptied, and a drop during the run',
    choose: ['1GB.wav', 'changing.wav', 'gone.wav', 'emptied.wav'],
    during: async (page) => {
      await writeFile(at('changing.wav'), Buffer.concat([sweep, sweep]));
      await unlink(at('gone.wav'));
      await truncate(at('emptied.wav'), 0);
      await dropOn(page, ['sweep.wav']);
    },
    notice:
      /^Done: 2 streams made, 3 could not be read\. changing\.wav could not be read: it is a folder, or it changed or vanished since it was chosen\. Choose it again\. gone\.wav/,
    results: [
      /^1GB\.wav: 1GB\.ima/,
      'changing.wav: could not be read',
      'gone.wav: could not be read',
      'emptied.wav: could not be read',
      /^sweep\.wav: sweep\.ima/,
    ],
  },
  {
    name: 'a folder chosen as a file',
    choose: ['folder'],
    notice: /^Done: 0 streams made, 1 could not be read\. folder could not be read/,
    results: ['folder: could not be read'],
  },
  {
    name: 'cancel',
    choose: ['2.5GB.wav', 'sweep.wav'],
    freshWorker: true,
    during: async (page) => {
      await untilRead(page, 0.01);
      const asked = Date.now();
      await page.click('#cancel');
      await page.waitForFunction(
        () => /cancelled/.test(document.querySelector('#notice')?.textContent ?? ''),
        { timeout: 10000 },
      );
      const took = Date.now() - asked;
      check(took < 10000, `cancel: stopped in ${took} ms`);
    },
    notice: /^Done: 0 streams made, 2 cancelled\. Conversion of 2\.5GB\.wav cancelled\.$/,
    results: ['2.5GB.wav: cancelled', 'sweep.wav: cancelled'],
    noDownload: true,
    after: async (page) =>
      check(
        (await focused(page)) === 'wav-file',
        `cancel: the focus back on the chooser (${await focused(page)})`,
      ),
  },
  {
    name: 'after cancel the page converts',
    choose: ['sweep.wav'],
    notice: /^Done: 1 stream/,
    download: 'sweep.wav',
    freshWorker: true,
  },
  {
    name: 'a 48 kHz mono WAV, prepared on request',
    choose: ['voice48k.wav'],
    notice: new RegExp(prepareAgain),
    results: [
      'voice48k.wav: convert error (PCM 16-bit, 1 channel, 48000 Hz, 3.0 s): mono: 1 channel, wav2ima converts stereo; 48000 Hz, wav2ima converts 44100 Hz Resample to 44.1 kHz stereo and convert',
    ],
    prepare: {
      notice: /^Done: 1 stream made\.$/,
      messages:
        /prepared voice48k-prepared\.wav from voice48k\.wav \(PCM 16-bit, 1 channel, 48000 Hz, 3\.0 s\): resampled to 44100 Hz by the browser, stereo, 16-bit\n\$ wav2ima voice48k-prepared\.wav voice48k\.ima\nconverting voice48k-prepared\.wav\nexit status 0\n$/,
      like: 'voice48k.wav',
      correlated: true,
      axe: 'a prepared file',
    },
  },
  {
    name: 'an MP3, prepared on request',
    choose: ['tune.mp3'],
    notice: new RegExp(prepareAgain),
    results: [
      'tune.mp3: convert error: not a RIFF/WAVE file Resample to 44.1 kHz stereo and convert',
    ],
    prepare: {
      notice: /^Done: 1 stream made\.$/,
      messages: /prepared tune-prepared\.wav from tune\.mp3 \(audio\/mpeg, 2 channels, 3\.\d s\)/,
      like: 'tune.mp3',
    },
  },
  {
    name: 'a damaged MP3: the short audio said',
    choose: ['damaged.mp3'],
    notice: new RegExp(prepareAgain),
    prepare: {
      notice:
        /^Done: 1 stream made\. Only \d+\.\d s of audio came from damaged\.mp3, far less than its 6\.\d MB suggest: it may be damaged\.$/,
    },
  },
  {
    name: 'noise called MP3: no Resample offered',
    choose: ['noise.mp3'],
    notice: new RegExp(prepareAgain),
    results: ['noise.mp3: convert error: not a RIFF/WAVE file'],
  },
  {
    name: 'a 5.1 mix scaled, not clipped',
    choose: ['loud51.wav'],
    notice: new RegExp(prepareAgain),
    prepare: {
      notice: /^Done: 1 stream made\.$/,
      messages:
        /6 channels, 44100 Hz, 10\.0 s\): resampled to 44100 Hz by the browser, stereo, 16-bit, scaled by -\d+\.\d dB so that no sample clips\n/,
      rails: 0.001,
    },
  },
  {
    name: 'a file changed before Resample',
    choose: ['voice48k.wav'],
    notice: new RegExp(prepareAgain),
    beforePrepare: () => writeFile(at('voice48k.wav'), sweep),
    prepare: {
      notice: /^Done: 0 streams made, 1 could not be read\. voice48k\.wav could not be read/,
    },
    after: makeVoice48k,
  },
  {
    name: 'over the budget: no Resample',
    choose: ['seventy.wav', 'long51.wav'],
    notice: /^Done: 0 streams made, 2 refused/,
    results: [
      /^seventy\.wav: convert error \(PCM 16-bit, 2 channels, 48000 Hz, 4200\.0 s\): 48000 Hz, wav2ima converts 44100 Hz \(seventy\.wav is too long to prepare here \(2 channels, 4200\.0 s\): .* 7200 channel-seconds/,
      /^long51\.wav: .* \(long51\.wav is too long to prepare here \(6 channels, 3300\.0 s\)/,
    ],
  },
  {
    name: '55 minutes of compressed 5.1: refused before decoding',
    choose: ['long51.flac'],
    notice: new RegExp(prepareAgain),
    prepare: {
      notice:
        /^Done: 0 streams made\. long51\.flac is too long to prepare here \(6 channels, 3300\.0 s\)/,
      memory: 3e9,
    },
  },
  {
    name: 'a zip past 4 GiB, cancelled once',
    choose: ['17GB.wav', 'sweep.wav'],
    notice: /^Done: 2 streams made\.$/,
    after: async (page) => {
      await page.click('#download-all');
      await untilRead(page, 0.02);
      await page.click('#cancel');
      await page.waitForFunction(
        () =>
          /^Making the zip cancelled\.$/.test(document.querySelector('#notice')?.textContent ?? ''),
        { timeout: 10000 },
      );
      const pids = await browserPids(browser.process()?.pid ?? 0);
      const {
        result: { path, names },
        grew,
      } = await growth(pids, () => downloadZip(page));
      const tested = zipTested(path);
      check(
        tested.status === 0 && names.join() === '17GB.ima,sweep.ima',
        `zip past 4 GiB: ${names}, unzip says ${JSON.stringify(tested.stdout.trim())}`,
      );
      const { size } = await stat(path);
      check(size > 2 ** 32, `zip past 4 GiB: ${size} bytes`);
      // No copy of the streams: the zip refers to them, so the browser grows
      // by less than the zip. What it does grow by (0.6 to 1.5 GB, the more
      // the more the batches before it left in memory) is the reads for the
      // checksums awaiting collection and chromium's side of those reads:
      // PAGE_CASES='2.5 GB|1 GB|zip past' gives the high end.
      check(
        grew < size,
        `zip past 4 GiB: the browser grew by ${(grew / 1e9).toFixed(2)} GB while making it`,
      );
      await rm(path);
    },
  },
  {
    name: 'a program that did not load',
    page: { failOnce: 'wav2ima/wav2ima.wasm' },
    atLoad: /^The converter could not be loaded \(wav2ima\/wav2ima\.wasm: 404/,
    choose: ['sweep.wav'],
    notice: /^Done: 1 stream/,
    download: 'sweep.wav',
  },
  {
    name: 'a worker that died',
    page: { failOnce: 'worker.js' },
    atLoad: /^The converter stopped \(.*\)\. It starts afresh with the next file\.$/,
    choose: ['sweep.wav'],
    notice: /^Done: 1 stream/,
    download: 'sweep.wav',
  },
  {
    name: 'opened from the disk',
    page: { url: `file://${resolve(folder)}/index.html` },
    atLoad: /^This page must be served, not opened from the disk.*python3 -m http\.server/,
  },
];
/**
 * @param {Case} row
 * @param {TestPage} shared
 */
async function runCase(row, shared) {
  const page = row.page ? await openPage(row.page) : shared;
  if (row.atLoad) {
    await page
      .waitForFunction(
        (re) => new RegExp(re).test(document.querySelector('#notice')?.textContent ?? ''),
        { timeout: 10000 },
        row.atLoad.source,
      )
      .catch(() => {});
    check(row.atLoad.test(await notice(page)), `${row.name}: at load, ${await notice(page)}`);
  }
  if (!row.choose && !row.drop && !row.chooseFolder) return page;
  const wanted = row.download ? nativeDigests(row.download, row.level ?? null) : null;
  if (row.level) await page.select('#level', row.level);
  const requestsBefore = page.requests.length;
  await page.evaluate(() => {
    window.longTasks.splice(0);
    window.begun = false;
    window.announced = 0;
  });
  const pids =
    row.memory || row.prepare?.memory ? await browserPids(browser.process()?.pid ?? 0) : [];
  const shares = new Set();
  const watcher = setInterval(
    () =>
      page
        .$eval('#progress', (bar) => /** @type {HTMLProgressElement} */ (bar).value)
        .then(
          (v) => shares.add(v),
          () => {},
        ),
    100,
  );
  const { grew } = await growth(pids, async () => {
    if (row.choose) await choose(page, row.choose);
    else if (row.chooseFolder) await chooseFolderByKeyboard(page, row.chooseFolder);
    else await dropOn(page, row.drop ?? []);
    await row.during?.(page);
    await settled(page);
  });
  clearInterval(watcher);

  if (row.pauses) {
    const longest = await longestPause(page);
    check(
      longest <= kPause,
      `${row.name}: no main-thread task over ${kPause} ms (longest ${longest} ms)`,
    );
  }
  const said = await notice(page);
  check(row.notice?.test(said) ?? false, `${row.name}: ${said}`);
  const results = await page.$$eval('#results > li', (items) =>
    items.map((item) => item.textContent),
  );
  for (const [i, want] of (row.results ?? []).entries()) {
    check(
      typeof want === 'string' ? results[i] === want : want.test(results[i] ?? ''),
      `${row.name}: ${results[i]}`,
    );
  }
  if (row.messages)
    check(
      (await page.$eval('#messages', (e) => e.textContent)).startsWith(row.messages),
      `${row.name}: the program's messages`,
    );
  if (row.download) {
    const got = await downloaded(page, link(1));
    const want = (await wanted) ?? [];
    check(
      got.name === row.download.replace(/\.wav$/, '.ima') && got.digests.join() === want.join(),
      `${row.name}: ${got.name} holds the native bytes (${want.length} slices)`,
    );
  }
  if (row.level) await page.select('#level', 'rule');
  if (row.noDownload)
    check((await page.$('#results a[download]')) === null, `${row.name}: nothing offered`);
  if (row.memory) {
    check(grew <= row.memory, `${row.name}: the browser grew by ${(grew / 1e9).toFixed(2)} GB`);
    check([...shares].filter((s) => s > 0 && s < 1).length >= 3, `${row.name}: the bar moved`);
  }
  if (row.listen) {
    await page.evaluate(() => window.longTasks.splice(0));
    const listened = await growth(pids, () => listen(page));
    const longest = await longestPause(page);
    check(
      longest <= kPause,
      `${row.name}: no main-thread task over ${kPause} ms while listening (longest ${longest} ms)`,
    );
    check(
      Math.abs(listened.result.duration - 250_000_000 / 44100) < 0.01 &&
        listened.grew <= row.listen,
      `${row.name}: listen grew the browser by ${(listened.grew / 1e9).toFixed(2)} GB`,
    );
  }
  // Nothing fetched after the load but blob: and data: URLs, the page's
  // own bytes, and a fresh worker's scripts after one was ended.
  const fetched = page.requests
    .slice(requestsBefore)
    .filter(
      (url) =>
        !/^(blob|data):/.test(url) &&
        !(row.freshWorker && url.startsWith(origin) && url.endsWith('.js')) &&
        !row.page,
    );
  check(fetched.length === 0, `${row.name}: nothing fetched ${JSON.stringify(fetched)}`);
  if (row.axe) await accessible(page, row.axe);
  if (row.prepare) await prepareCase(row, page, pids);
  await row.after?.(page);
  if (row.shot) await page.screenshot({ path: screenshot, fullPage: true });
  return page;
}

// Resample pressed on the case's first row, and what the page then says.
/**
 * @param {Case} row
 * @param {TestPage} page
 * @param {number[]} pids
 */
async function prepareCase(row, page, pids) {
  await row.beforePrepare?.();
  await page.evaluate(() => {
    window.begun = false;
    window.longTasks.splice(0);
  });
  const { grew } = await growth(pids, async () => {
    await page.click(rowButton(1, 'Resample'));
    await settled(page);
  });
  console.log(`     longest pause while preparing: ${await longestPause(page)} ms`);
  if (row.prepare === undefined) return;
  const { notice: want, messages: said, like, correlated, axe, rails, memory } = row.prepare;
  const prepared = await notice(page);
  check(want.test(prepared), `${row.name}: ${prepared}`);
  check(
    (await focused(page)) === 'LI',
    `${row.name}: the focus on the row (${await focused(page)})`,
  );
  const transcript = await page.$eval('#messages', (e) => e.textContent);
  if (said)
    check(
      said.test(transcript),
      `${row.name}: the messages say what was prepared (${transcript.split('\n').find((line) => line.startsWith('prepared'))})`,
    );
  if (like) await likeSox(page, like, correlated);
  if (rails !== undefined) {
    const share = await atTheRails(page);
    check(share < rails, `${row.name}: ${(share * 100).toFixed(3)}% of the samples at full scale`);
  }
  if (memory)
    check(grew <= memory, `${row.name}: the browser grew by ${(grew / 1e9).toFixed(2)} GB`);
  if (axe) await accessible(page, axe);
}

// PAGE_CASES, a regular expression, runs only the cases it finds.
const only = new RegExp(process.env.PAGE_CASES ?? '');
const shared = await openPage();
try {
  for (const row of cases.filter(({ name }) => only.test(name))) {
    console.log(`-- ${row.name}`);
    const page = await runCase(row, shared);
    if (page !== shared) await page.close();
  }
  const dark = await shared
    .emulateMediaFeatures([{ name: 'prefers-color-scheme', value: 'dark' }])
    .then(() => shared.$eval('body', (body) => getComputedStyle(body).backgroundColor));
  check(dark === 'rgb(22, 25, 28)', `a dark theme where asked for (${dark})`);
} finally {
  await browser.close();
  server.close();
  await rm(scratch, { recursive: true });
}
if (failures.length > 0) {
  console.log(`${failures.length} failed`);
  process.exit(1);
}
