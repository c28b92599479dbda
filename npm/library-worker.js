// The library's worker: it runs the conversions the calling thread asks for,
// one at a time as the library sends them, so that none holds up that
// thread. The build bundles this file into one script (worker-source.js),
// which the library starts as a Worker in browsers and as a worker thread in
// node, so that no bundler needs to know of it. It speaks the protocol of
// jobs.js (share, done, failed); its own messages:
//   in:  modules  {modules}                   the compiled programs; no answer
//        convert  {job, program, options, input, output}
//             done: {status, message, reason, unreadable, output}
//   out: read     {job, position, size}       a slice of a pulled input
// An input is {blob} (read here in slices), {bytes} (a small one, copied
// over whole) or {pulled: {size, shared}} (read by the calling thread into
// `shared`, a SharedArrayBuffer, slice by slice as the program asks).
import { BlockOutput, bytesSource, FixedOutput, SliceInput } from './files.js';
import { kFileNames, kOutputTypes, ownPort, readKeys, serve } from './jobs.js';
import { inFolder, runProgram } from './run.js';

const kHeaderBytes = 44; // of the WAV ima2wav writes, before 4 bytes a stream byte
// A share reported once this much more of the input was read, and at least
// so many bytes: a small conversion reports only its end.
const kShareStep = 0.01;
const kShareBytes = 1 << 20;

/** @typedef {Record<string, WebAssembly.Module>} Modules */
/** @typedef {'wav2ima' | 'imaenc' | 'ima2wav'} Program */

// A source whose bytes the calling thread copies into `shared` on request:
// control[0] is 0 while a slice is asked for and 1 once it is there;
// control[1] holds its length, or -1 where it could not be read (the calling
// thread knows why).
/**
 * @param {import('./jobs.js').Job} job
 * @param {{size: number, shared: SharedArrayBuffer}} pulled
 */
function pulledSource(job, { size, shared }) {
  const control = new Int32Array(shared, 0, 2);
  const data = new Uint8Array(shared, 8);
  return {
    size,
    /**
     * @param {number} position
     * @param {number} wanted
     */
    read(position, wanted) {
      Atomics.store(control, 0, 0);
      job.post({ type: 'read', position, size: Math.max(wanted, data.length) });
      Atomics.wait(control, 0, 0);
      const length = Atomics.load(control, 1);
      if (length < 0) throw new Error('the input could not be read');
      return data.subarray(0, length);
    },
  };
}

/**
 * @param {import('./jobs.js').Job} job
 * @param {any} input one of the three the head of this file names
 * @returns {Blob | {size: number, read(position: number, wanted: number): Uint8Array}}
 */
function sourceOf(job, input) {
  if (input.blob) return input.blob;
  if (input.bytes) return bytesSource(input.bytes);
  return pulledSource(job, input.pulled);
}

// wavcheck's keys: the frames wav2ima would write, and why it refuses.
/**
 * @param {Modules} modules
 * @param {Blob | {size: number, read(position: number, wanted: number): Uint8Array}} source
 */
async function check(modules, source) {
  const run = inFolder({ 'in.wav': new SliceInput(source) });
  const status = await runProgram(modules.wavcheck, ['wavcheck', 'in.wav'], run.fds);
  return status === 0 ? readKeys(run.out) : null;
}

// Bytes past what one array holds fail in words that say what to ask for.
/** @param {number} length */
function tooLarge(length) {
  return new Error(
    `the output, ${length} bytes, is more than one array holds: ask for output: 'blob'`,
  );
}

/** @param {number} length */
function outputOf(length) {
  try {
    return new FixedOutput(length);
  } catch (error) {
    throw error instanceof RangeError ? tooLarge(length) : error;
  }
}

/**
 * @param {number} length
 * @param {() => Promise<ArrayBuffer>} make
 */
async function oneArray(length, make) {
  try {
    return await make();
  } catch (error) {
    throw error instanceof RangeError ? tooLarge(length) : error;
  }
}

/**
 * @param {Modules} modules
 * @param {{program: Program, options?: string[], input: any, output: 'bytes' | 'blob'}} asked
 * @param {import('./jobs.js').Job} job
 * @returns {Promise<[object, ArrayBuffer[]]>}
 */
async function convert(modules, { program, options = [], input, output }, job) {
  const source = sourceOf(job, input);
  // An array of the output's length where that is known before: ima2wav's
  // from its input's, wav2ima's from the walk that counts its frames (but
  // for a small input, whose output is cheaper copied than counted).
  const keys =
    program !== 'ima2wav' && output === 'bytes' && !input.bytes
      ? await check(modules, source)
      : null;
  const length =
    program === 'ima2wav' ? kHeaderBytes + 4 * source.size : Number(keys?.frames ?? NaN);
  const exact = output === 'bytes' && Number.isSafeInteger(length);
  const file = exact ? outputOf(length) : new BlockOutput(kOutputTypes[program]);
  let shownAt = 0;
  const reading = new SliceInput(source, (position) => {
    const step = position - shownAt;
    if (step < kShareBytes || step < kShareStep * source.size) return;
    shownAt = position;
    job.share(position / source.size);
  });
  const names = kFileNames[program];
  const run = inFolder({ [names[0]]: reading, [names[1]]: file });
  const status = await runProgram(modules[program], [program, ...options, ...names], run.fds);
  /** @type {{status: number, message: string, unreadable?: string, reason?: string | null, output?: ArrayBuffer | Blob}} */
  const answer = { status, message: run.err.join('\n') };
  const failure = reading.failure;
  if (failure !== null)
    answer.unreadable = failure instanceof Error ? failure.message : String(failure);
  if (status !== 0) {
    answer.reason = (keys ?? (await check(modules, source)))?.why.join('; ') || null;
    return [answer, []];
  }
  if (file instanceof BlockOutput) {
    // Where the bytes were asked for, the blocks become them here, off the
    // calling thread.
    answer.output = output === 'blob' ? file.blob() : await oneArray(file.size, () => file.bytes());
  } else {
    answer.output =
      file.size === file.bytes.length ? file.bytes.buffer : file.bytes.slice(0, file.size).buffer;
  }
  return [answer, answer.output instanceof ArrayBuffer ? [answer.output] : []];
}

/** @type {Modules} */
let modules = {};
serve(
  ownPort(),
  {
    modules: (message) => {
      modules = message.modules;
    },
    convert: (message, job) => convert(modules, message, job),
  },
  new Set(['modules']),
);
