// The npm library's targets under node, measured: the cost of a small
// conversion once the programs are loaded (target: under 1 ms), the delay of
// node's event loop while a 200 MB conversion runs (target: under 50 ms),
// and the peak resident memory of a conversion beside its input and output
// (target: input + output + 256 MiB), each in a process of its own.
//
//   node bench/library.mjs build-wasi/npm [ROUNDS]     (default 5 rounds)
import { execFileSync } from 'node:child_process';
import { resolve } from 'node:path';
import { pathToFileURL } from 'node:url';

const [packageDir, roundsArgument] = process.argv.slice(2);
const rounds = Number(roundsArgument ?? 5);
const entry = pathToFileURL(resolve(packageDir, 'wav2ima.node.js')).href;

// A canonical WAV of `dataBytes` of a quiet pattern.
const wavOf = `(dataBytes) => {
  const wav = new Uint8Array(44 + dataBytes);
  wav.set(wavHeader({ dataSize: dataBytes }));
  for (let i = 44; i < wav.length; i += 4096) wav[i] = i & 0xff;
  return wav;
}`;
const wavInputs = new URL('../tools/wav_inputs.mjs', import.meta.url).href;

// Runs `body` (the text of an async function of {wav2ima, ima2wav, wavOf})
// in a fresh node and returns what it prints, parsed.
/**
 * @param {string} body
 * @returns {number}
 */
function measure(body) {
  const script = `const library = await import(${JSON.stringify(entry)});
    const { wavHeader } = await import(${JSON.stringify(wavInputs)});
    const wavOf = ${wavOf};
    console.log(JSON.stringify(await (${body})({ ...library, wavOf })));`;
  return JSON.parse(
    execFileSync(process.execPath, ['--input-type=module', '-e', script], { encoding: 'utf8' }),
  );
}

const perCall = `async ({ wav2ima, wavOf }) => {
  const wav = wavOf(400);
  await wav2ima(wav);
  const started = performance.now();
  for (let i = 0; i < 500; i++) await wav2ima(wav);
  return (performance.now() - started) / 500;
}`;
const loopDelay = `async ({ wav2ima, wavOf }) => {
  const { monitorEventLoopDelay } = await import('node:perf_hooks');
  const wav = wavOf(200e6);
  await wav2ima(wavOf(400));
  const delay = monitorEventLoopDelay({ resolution: 1 });
  delay.enable();
  await wav2ima(wav);
  delay.disable();
  return delay.max / 1e6;
}`;
/** @type {(program: string, bytes: number) => string} */
const memory = (program, bytes) => `async ({ ${program}, wavOf }) => {
  const input = ${program === 'wav2ima' ? `wavOf(${bytes})` : `new Uint8Array(${bytes}).fill(0x17)`};
  const output = await ${program}(input);
  return (process.resourceUsage().maxRSS * 1024 - input.length - output.length) / 2 ** 20;
}`;

const steps = [
  ['a 444-byte WAV, per call after the first (ms)', perCall],
  ['event loop delay while 200 MB convert, max (ms)', loopDelay],
  ['wav2ima of a 1.5 GB Uint8Array: peak RSS over input + output (MiB)', memory('wav2ima', 1.5e9)],
  ['ima2wav of a 550 MB stream: peak RSS over input + output (MiB)', memory('ima2wav', 550e6)],
];
/** @param {number[]} values */
const median = (values) => values.toSorted((a, b) => a - b)[Math.floor(values.length / 2)];
console.log(`| measure (node ${process.versions.node}, ${rounds} rounds) | median | range |`);
console.log('|---|---|---|');
for (const [name, body] of steps) {
  const values = Array.from({ length: rounds }, () => measure(body));
  const shown = (/** @type {number} */ x) => (x < 10 ? x.toFixed(2) : x.toFixed(0));
  console.log(
    `| ${name} | ${shown(median(values))} | ${shown(Math.min(...values))}-${shown(Math.max(...values))} |`,
  );
}
