// The page's tight targets, measured in Debian's chromium over several
// rounds: the longest task of the page's thread (the target: none over
// 50 ms) and the browser's growth in memory, while a 1 GB WAV converts, while
// its stream is decoded to listen to, and while ten streams are zipped.
// The page's test guards the same with wide margins; this reports them.
//
//   node bench/page.mjs build-wasi/web [ROUNDS]        (default 5 rounds)
import { mkdtemp, rm } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { browserPids, growth, launch, serve } from '../tools/browser.mjs';
import { sparseWav } from '../tools/wav_inputs.mjs';

const [folder, roundsArgument] = process.argv.slice(2);
const rounds = Number(roundsArgument ?? 5);
const scratch = await mkdtemp(join(tmpdir(), 'wav2ima-page-bench-'));
const input = join(scratch, '1GB.wav');
await sparseWav(input, 1_000_000_000);

const server = await serve(resolve(folder));
const browser = await launch();
/** @type {Record<string, {task: number, grew: number}[]>} */
const measured = { convert: [], listen: [], zip: [] };

// Runs `action` on `page`: the longest task it caused and the peak growth of
// the browser's memory while it ran.
/**
 * @param {import('puppeteer-core').Page} page
 * @param {() => Promise<void>} action
 */
async function measure(page, action) {
  const pids = await browserPids(browser.process()?.pid ?? 0);
  await page.evaluate(() => window.longTasks.splice(0));
  const { grew } = await growth(pids, action);
  return { task: Math.max(0, ...(await page.evaluate(() => window.longTasks))), grew };
}
try {
  for (let round = 1; round <= rounds; round++) {
    const page = await browser.newPage();
    await page.goto(`http://127.0.0.1:${server.address().port}/`, { waitUntil: 'networkidle0' });
    await page.evaluate(() => {
      window.longTasks = [];
      new PerformanceObserver((list) =>
        window.longTasks.push(...list.getEntries().map((e) => e.duration)),
      ).observe({ type: 'longtask' });
    });
    measured.convert.push(
      await measure(page, async () => {
        const chooser = /** @type {import('puppeteer-core').ElementHandle<HTMLInputElement>} */ (
          await page.$('#wav-file')
        );
        await chooser.uploadFile(...Array(10).fill(input));
        await page.waitForFunction(
          () => /^Done: 10 streams/.test(document.querySelector('#notice')?.textContent ?? ''),
          { polling: 100, timeout: 0 },
        );
      }),
    );
    measured.listen.push(
      await measure(page, async () => {
        await page.click('#results > li:first-child button[aria-label^="Listen"]');
        await page.waitForFunction(
          () => /^Playing/.test(document.querySelector('#notice')?.textContent ?? ''),
          { polling: 100, timeout: 0 },
        );
      }),
    );
    measured.zip.push(
      await measure(page, async () => {
        await page.evaluate(() => {
          const link = /** @type {HTMLAnchorElement} */ (document.querySelector('#download-all'));
          link.click = () => {}; // made, not saved
          link.dispatchEvent(new MouseEvent('click', { cancelable: true }));
        });
        await page.waitForFunction(
          () => /^Made one zip/.test(document.querySelector('#notice')?.textContent ?? ''),
          { polling: 100, timeout: 0 },
        );
      }),
    );
    await page.close();
    console.error(`round ${round} of ${rounds}`);
  }
} finally {
  await browser.close();
  server.close();
  await rm(scratch, { recursive: true });
}

/** @param {number[]} values */
const median = (values) => values.toSorted((a, b) => a - b)[Math.floor(values.length / 2)];
/** @type {(values: number[], unit: (x: number) => string) => string} */
const span = (values, unit) =>
  `${unit(median(values))} (${unit(Math.min(...values))}-${unit(Math.max(...values))})`;
const ms = (/** @type {number} */ x) => `${Math.round(x)} ms`;
const gb = (/** @type {number} */ x) => `${(x / 1e9).toFixed(2)} GB`;
console.log(`| step (${rounds} rounds, median (range)) | longest task | browser growth |`);
console.log('|---|---|---|');
for (const [step, label] of [
  ['convert', 'convert 10 x 1 GB WAV'],
  ['listen', 'listen: decode a 250 MB stream'],
  ['zip', 'zip the 10 streams (2.5 GB)'],
]) {
  const values = measured[step];
  console.log(
    `| ${label} | ${span(
      values.map((v) => v.task),
      ms,
    )} | ${span(
      values.map((v) => v.grew),
      gb,
    )} |`,
  );
}
