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
import { inFolder, runProgram } from './run.js';

const kNames = {
  wav2ima: ['in.wav', 'out.ima'],
  imaenc: ['in.wav', 'out.ima'],
  ima2wav: ['in.ima', 'out.wav'],
};
const kTypes = {
  wav2ima: 'application/octet-stream',
  imaenc: 'application/octet-stream',
  ima2wav: 'audio/wav',
};
const kHeaderBytes = 44; // of the WAV ima2wav writes, before 4 bytes a stream byte
// A share reported once this much more of the input was read, and at least
// so many bytes: a small conversion reports only its end.
const kShareStep = 0.01;
const kShareBytes = 1 << 20;

// A source whose bytes the calling thread copies into `shared` on request:
// control[0] is 0 while a slice is asked for and 1 once it is there;
// control[1] holds its length, or -1 where it could not be read (the calling
// thread knows why).
function pulledSource(port, job, { size, shared }) {
  const control = new Int32Array(shared, 0, 2);
  const data = new Uint8Array(shared, 8);
  return {
    size,
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

function sourceOf(port, job, input) {
  if (input.blob) return input.blob;
  if (input.bytes) return bytesSource(input.bytes);
  return pulledSource(port, job, input.pulled);
}

// wavcheck's keys: the frames wav2ima would write, and why it refuses.
async function check(modules, source) {
  const run = inFolder({ 'in.wav': new SliceInput(source) });
  const status = await runProgram(modules.wavcheck, ['wavcheck', 'in.wav'], run.fds);
  const keys = { why: [] };
  for (const line of run.out) {
    const [key, value] = [line.slice(0, line.indexOf(' ')), line.slice(line.indexOf(' ') + 1)];
    if (key === 'why') keys.why.push(value);
    else keys[key] = value;
  }
  return status === 0 ? keys : null;
}

// Bytes past what one array holds fail in words that say what to ask for.
function tooLarge(length) {
  return new Error(
    `the output, ${length} bytes, is more than one array holds: ask for output: 'blob'`,
  );
}

function outputOf(length) {
  try {
    return new FixedOutput(length);
  } catch (error) {
    throw error instanceof RangeError ? tooLarge(length) : error;
  }
}

async function oneArray(length, make) {
  try {
    return await make();
  } catch (error) {
    throw error instanceof RangeError ? tooLarge(length) : error;
  }
}

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
  const file = exact ? outputOf(length) : new BlockOutput(kTypes[program]);
  let shownAt = 0;
  const reading = new SliceInput(source, (position) => {
    const step = position - shownAt;
    if (step < kShareBytes || step < kShareStep * source.size) return;
    shownAt = position;
    port.post({ type: 'share', job, share: position / source.size });
  });
  const names = kNames[program];
  const run = inFolder({ [names[0]]: reading, [names[1]]: file });
  const status = await runProgram(modules[program], [program, ...options, ...names], run.fds);
  const answer = { type: 'done', job, status, message: run.err.join('\n') };
  if (reading.failure !== null) answer.unreadable = String(reading.failure.message);
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
export function serve(port) {
  let modules = null;
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
        port.post({ type: 'failed', job: message.job, message: String(error?.message ?? error) });
      }
    });
  });
}

// Started as a browser Worker or as a node worker thread, which takes its
// port from node's own modules.
if (typeof WorkerGlobalScope !== 'undefined') {
  serve({
    post: (message, transfer) => postMessage(message, transfer),
    on: (handler) => {
      globalThis.onmessage = ({ data }) => handler(data);
    },
  });
} else {
  const { parentPort } = process.getBuiltinModule('node:worker_threads');
  serve({
    post: (message, transfer) => parentPort.postMessage(message, transfer),
    on: (handler) => parentPort.on('message', handler),
  });
}
