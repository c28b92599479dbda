// One run of a program over one input, as both workers do it (the library's
// and the page's): the input read in slices, progress shared as it is read,
// the output made as the caller asked, and, where the program refused the
// input, what the file says of itself (wavcheck's keys).
//
// The job's message: {program, options, input, output, shown, explain}
//   input    {blob} (read here in slices), {bytes} (a small one, copied over
//            whole) or {pulled: {size, shared}} (read by the calling thread
//            into `shared`, a SharedArrayBuffer, slice by slice as the
//            program asks, through {type: 'read', job, position, size})
//   output   'bytes' (one ArrayBuffer, handed over) or 'blob'
//   shown    the caller's names for the input and the output, which the
//            program's lines then say instead of the folder's
//   explain  whether a refusal is explained by wavcheck (by default it is)
// Its answer: {status, lines, message, unreadable, keys, output}: `lines`
// are what the program said, in order, `message` its standard error;
// `unreadable` says why the input could not be read; `keys` are wavcheck's
// for a refused input; `output` is there on success.
import { BlockOutput, bytesSource, FixedOutput, SliceInput } from './files.js';
import { kFileNames, kOutputTypes, readKeys } from './jobs.js';
import { inFolder, runProgram } from './run.js';

const kHeaderBytes = 44; // of the WAV ima2wav writes, before 4 bytes a stream byte
// A share reported once this much more of the input was read, and at least
// so many bytes: a small conversion reports only its end.
const kShareStep = 0.01;
const kShareBytes = 1 << 20;

/** @typedef {Record<string, WebAssembly.Module>} Modules */
/** @typedef {'wav2ima' | 'imaenc' | 'ima2wav'} Program */
/** @typedef {Blob | {size: number, read(position: number, wanted: number): Uint8Array}} Source */
/** @typedef {{blob: Blob} | {bytes: Uint8Array} | {pulled: {size: number, shared: SharedArrayBuffer}}} Input */
/**
 * @typedef {object} Asked
 * @property {Program} program
 * @property {string[]} [options]
 * @property {Input} input
 * @property {'bytes' | 'blob'} output
 * @property {string[]} [shown]
 * @property {boolean} [explain]
 */
/**
 * @typedef {object} Answer
 * @property {number} status
 * @property {string[]} lines
 * @property {string} message
 * @property {string} [unreadable]
 * @property {ReturnType<typeof readKeys> | null} [keys]
 * @property {ArrayBuffer | Blob} [output]
 */

// A source whose bytes the calling thread copies into `shared` on request:
// control[0] is 0 while a slice is asked for and 1 once it is there;
// control[1] holds its length, or -1 where it could not be read (the calling
// thread knows why).
/**
 * @param {import('./jobs.js').Job} job
 * @param {{size: number, shared: SharedArrayBuffer}} pulled
 * @returns {Source}
 */
function pulledSource(job, { size, shared }) {
  const control = new Int32Array(shared, 0, 2);
  const data = new Uint8Array(shared, 8);
  return {
    size,
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
 * @param {Input} input
 * @returns {Source}
 */
function sourceOf(job, input) {
  if ('blob' in input) return input.blob;
  if ('bytes' in input) return bytesSource(input.bytes);
  return pulledSource(job, input.pulled);
}

// wavcheck's keys: the frames wav2ima would write, and why it refuses.
/**
 * @param {Modules} modules
 * @param {Source} source
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

// The program's lines with its own names put back as the caller's.
/**
 * @param {string[]} lines
 * @param {string[]} names
 * @param {string[] | undefined} shown
 */
function shownLines(lines, names, shown) {
  if (shown === undefined) return lines;
  const byName = new Map(names.map((name, i) => [name, shown[i]]));
  const pattern = new RegExp(names.map((name) => name.replace('.', '\\.')).join('|'), 'g');
  return lines.map((line) => line.replace(pattern, (name) => byName.get(name) ?? name));
}

/**
 * @param {BlockOutput | FixedOutput} file
 * @param {'bytes' | 'blob'} output
 */
async function outputBytes(file, output) {
  // Where the bytes were asked for, the blocks become them here, off the
  // calling thread.
  if (file instanceof BlockOutput)
    return output === 'blob' ? file.blob() : await oneArray(file.size, () => file.bytes());
  return file.size === file.bytes.length
    ? file.bytes.buffer
    : file.bytes.slice(0, file.size).buffer;
}

/**
 * @param {Modules} modules
 * @param {Asked} asked
 * @param {import('./jobs.js').Job} job
 * @returns {Promise<[Answer, ArrayBuffer[]]>}
 */
export async function convert(modules, asked, job) {
  const { program, options = [], input, output, shown, explain = true } = asked;
  const source = sourceOf(job, input);
  // An array of the output's length where that is known before: ima2wav's
  // from its input's, wav2ima's from the walk that counts its frames (but
  // for a small input, whose output is cheaper copied than counted).
  const keys =
    program !== 'ima2wav' && output === 'bytes' && !('bytes' in input)
      ? await check(modules, source)
      : null;
  const length =
    program === 'ima2wav' ? kHeaderBytes + 4 * source.size : Number(keys?.frames ?? NaN);
  const exact = output === 'bytes' && Number.isSafeInteger(length);
  const file = exact ? outputOf(length) : new BlockOutput(kOutputTypes[program]);
  let sharedAt = 0;
  const reading = new SliceInput(source, (position) => {
    const step = position - sharedAt;
    if (step < kShareBytes || step < kShareStep * source.size) return;
    sharedAt = position;
    job.share(position / source.size);
  });
  const names = kFileNames[program];
  const run = inFolder({ [names[0]]: reading, [names[1]]: file });
  const status = await runProgram(modules[program], [program, ...options, ...names], run.fds);
  /** @type {Answer} */
  const answer = {
    status,
    lines: shownLines(run.lines, names, shown),
    message: shownLines(run.err, names, shown).join('\n'),
  };
  const failure = reading.failure;
  if (failure !== null) {
    answer.unreadable = failure instanceof Error ? failure.message : String(failure);
    return [answer, []];
  }
  if (status !== 0) {
    if (explain) answer.keys = keys ?? (await check(modules, source));
    return [answer, []];
  }
  answer.output = await outputBytes(file, output);
  return [answer, answer.output instanceof ArrayBuffer ? [answer.output] : []];
}
