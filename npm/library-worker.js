// The library's worker: it runs the conversions the calling thread asks for,
// one at a time, so that none holds up that thread. The build bundles this
// file into one script (worker-source.js), which the library starts as a
// Worker in browsers and as a worker thread in node, so that no bundler
// needs to know of it. Messages, each naming its type and its job:
//   in:  modules  {modules}                   the compiled programs
//        convert  {job, program, options, input, output}
//   out: read     {job, position, size}       a slice of a pulled input
//        share    {job, share}                the share of the input read
//        done     {job, status, message, reason, output}
//        failed   {job, message}              the program trapped
// An input is {blob} (read here in slices), {bytes} (a small one, copied
// over whole) or {pulled: {size, shared}} (read by the calling thread into
// `shared`, a SharedArrayBuffer, slice by slice as the program asks).
import { BlockOutput, bytesSource, FixedOutput, SliceInput } from './files.js';
import { kFileNames, kOutputTypes, readKeys } from './jobs.js';
import { inFolder, runProgram } from './run.js';

const kHeaderBytes = 44; // of the WAV ima2wav writes, before 4 bytes a stream byte
// A share reported once this much more of the input was read, and at least
// so many bytes: a small conversion reports only its end.
const kShareStep = 0.01;
const kShareBytes = 1 << 20;

/**
 * The calling thread, as this worker talks to it.
 * @typedef {object} Port
 * @property {(message: object, transfer?: ArrayBuffer[]) => void} post
 * @property {(handler: (message: any) => void) => void} on
 */
/** @typedef {Record<string, WebAssembly.Module>} Modules */
/** @typedef {'wav2ima' | 'imaenc' | 'ima2wav'} Program */

// A source whose bytes the calling thread copies into `shared` on request:
// control[0] is 0 while a slice is asked for and 1 once it is there;
// control[1] holds its length, or -1 where it could not be read (the calling
// thread knows why).
/**
 * @param {Port} port
 * @param {number} job
 * @param {{size: number, shared: SharedArrayBuffer}} pulled
 */
function pulledSource(port, job, { size, shared }) {
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
      port.post({ type: 'read', job, position, size: Math.max(wanted, data.length) });
      Atomics.wait(control, 0, 0);
      const length = Atomics.load(control, 1);
      if (length < 0) throw new Error('the input could not be read');
      return data.subarray(0, length);
    },
  };
}

/**
 * @param {Port} port
 * @param {number} job
 * @param {any} input one of the three the head of this file names
 * @returns {Blob | {size: number, read(position: number, wanted: number): Uint8Array}}
 */
function sourceOf(port, job, input) {
  if (input.blob) return input.blob;
  if (input.bytes) return bytesSource(input.bytes);
  return pulledSource(port, job, input.pulled);
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
 * @param {Port} port
 * @param {Modules} modules
 * @param {{job: number, program: Program, options?: string[], input: any, output: 'bytes' | 'blob'}} asked
 * @returns {Promise<[object, ArrayBuffer[]]>}
 */
async function convert(port, modules, { job, program, options = [], input, output }) {
  const source = sourceOf(port, job, input);
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
    port.post({ type: 'share', job, share: position / source.size });
  });
  const names = kFileNames[program];
  const run = inFolder({ [names[0]]: reading, [names[1]]: file });
  const status = await runProgram(modules[program], [program, ...options, ...names], run.fds);
  /** @type {{type: 'done', job: number, status: number, message: string, unreadable?: string, reason?: string | null, output?: ArrayBuffer | Blob}} */
  const answer = { type: 'done', job, status, message: run.err.join('\n') };
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

// Serves the calling thread over `port`: {post(message, transfer), on(handler)}.
/** @param {Port} port */
export function serve(port) {
  /** @type {Modules} */
  let modules = {};
  let queue = Promise.resolve();
  port.on((message) => {
    if (message.type === 'modules') {
      modules = message.modules;
      return;
    }
    queue = queue.then(async () => {
      try {
        const [answer, transfer] = await convert(port, modules, message);
        port.post(answer, transfer);
      } catch (error) {
        const why = error instanceof Error ? error.message : String(error);
        port.post({ type: 'failed', job: message.job, message: why });
      }
    });
  });
}

// Started as a browser Worker or as a node worker thread, which takes its
// port from node's own modules.
if (typeof WorkerGlobalScope !== 'undefined') {
  serve({
    // A worker's postMessage, which the DOM's types give as the window's.
    post: (message, transfer = []) =>
      /** @type {any} */ (globalThis).postMessage(message, transfer),
    on: (handler) => {
      globalThis.onmessage = ({ data }) => handler(data);
    },
  });
} else {
  const port = process.getBuiltinModule('node:worker_threads').parentPort;
  if (port === null) throw new Error("the library's worker runs in a worker thread");
  serve({
    post: (message, transfer = []) => port.postMessage(message, transfer),
    on: (handler) => port.on('message', handler),
  });
}
