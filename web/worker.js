// The page's worker: the library's worker (its `convert`, which runs the
// programs over the files the page hands it as Blobs, so that no conversion
// holds up the page), with what only the page does. It speaks the package's
// protocol (wav2ima/jobs.js: each job is answered once, done or failed,
// after any number of shares); its messages:
//   modules  {modules}                       the compiled programs; no answer
//   convert  a run of a program, as wav2ima/convert.js has it
//   read     {file}                          the whole file: {bytes}, handed over,
//                                            or {unreadable}
//   prepare  {}                              a WAV to be prepared, answered
//            once `finish` comes: {wav}
//   samples  {left, right, gain}             a slice of it; no answer
//   finish   {}                              its last slice came
//   zip      {entries: [{name, blob}]}       one zip of streams: {zip}
import { makeZip, predictLength } from './client-zip/index.js';
import { convert } from './wav2ima/convert.js';
import { BlockOutput } from './wav2ima/files.js';
import { ownPort, serve } from './wav2ima/jobs.js';
import { inFolder, runProgram } from './wav2ima/run.js';

/** @type {Record<string, WebAssembly.Module>} */
let modules = {};
// Bytes of a stream read at once for the zip's checksums.
const kZipRead = 16 << 20;

/** @typedef {(done: number) => void} Share */

// A file that changed or vanished since it was chosen cannot be read.
/** @param {{file: Blob}} asked */
function read({ file }) {
  let bytes;
  try {
    bytes = new FileReaderSync().readAsArrayBuffer(file);
  } catch (error) {
    const { name, message } = /** @type {Error} */ (error);
    return { unreadable: `${name}: ${message}` };
  }
  return [{ bytes }, [bytes]];
}

// Stored entries (ADPCM does not compress), with ZIP64 fields where sizes
// or offsets pass 4 GiB, by client-zip. The zip holds no copy of the
// streams: client-zip hands each chunk of an entry on as it was read (once
// it has added it to the checksum), so each chunk read here is replaced in
// the zip by the slice of the stream it came from, and a Blob made of other
// Blobs refers to them. Any other chunk (headers, the directory) is the
// library's own bytes. Were a later client-zip to copy the chunks, the zip
// would hold the copies: still the same bytes.
/**
 * @param {{entries: {name: string, blob: Blob}[]}} asked
 * @param {Share} share
 */
async function zip({ entries }, share) {
  const total = Number(predictLength(entries.map(({ name, blob }) => ({ name, size: blob.size }))));
  /** @type {WeakMap<Uint8Array, Blob>} */
  const sources = new WeakMap();
  /** @param {Blob} blob */
  const sliced = (blob) => {
    let at = 0;
    return new ReadableStream({
      async pull(controller) {
        if (at >= blob.size) {
          controller.close();
          return;
        }
        const end = Math.min(blob.size, at + kZipRead);
        const chunk = new Uint8Array(await blob.slice(at, end).arrayBuffer());
        sources.set(chunk, blob.slice(at, end));
        at = end;
        controller.enqueue(chunk);
      },
    });
  };
  const files = entries.map(({ name, blob }) => ({ name, input: sliced(blob), size: blob.size }));
  /** @type {BlobPart[]} */
  const parts = [];
  let written = 0;
  const reader = makeZip(files).getReader();
  for (;;) {
    const { value: chunk, done } = await reader.read();
    if (done) break;
    parts.push(sources.get(chunk) ?? /** @type {Uint8Array<ArrayBuffer>} */ (chunk));
    written += chunk.length;
    share(written / total);
  }
  return { zip: new Blob(parts, { type: 'application/zip' }) };
}

// The WAVs being prepared, by job: 16-bit frames, each sample scaled by the
// slice's gain, rounded to the nearest and clamped; the header goes before
// them once their length is known.
/** @type {Map<number, {frames: BlockOutput, end: number, resolve: (answer: {wav: Blob}) => void}>} */
const preparing = new Map();
const pcm16 = (/** @type {number} */ x) => Math.min(32767, Math.max(-32768, Math.round(x * 32768)));

/**
 * @param {number} job
 * @returns {Promise<{wav: Blob}>}
 */
function prepare(job) {
  return new Promise((resolve) => {
    preparing.set(job, { frames: new BlockOutput('audio/wav'), end: 0, resolve });
  });
}

/** @param {{job: number, left: Float32Array, right: Float32Array, gain: number}} slice */
function samples({ job, left, right, gain }) {
  const wav = preparing.get(job);
  if (wav === undefined) return;
  const frames = new DataView(new ArrayBuffer(left.length * 4));
  for (let i = 0; i < left.length; i++) {
    frames.setInt16(4 * i, pcm16(left[i] * gain), true);
    frames.setInt16(4 * i + 2, pcm16(right[i] * gain), true);
  }
  wav.frames.write(new Uint8Array(frames.buffer), wav.end);
  wav.end += frames.byteLength;
}

// The header ima2wav writes before `dataBytes` bytes of samples: wavcheck
// writes it, from the format the converter reads.
/** @param {number} dataBytes */
async function waveHeader(dataBytes) {
  const header = new BlockOutput('audio/wav');
  const run = inFolder({ 'header.wav': header });
  const args = ['wavcheck', '--header', String(dataBytes), 'header.wav'];
  if ((await runProgram(modules.wavcheck, args, run.fds)) !== 0)
    throw new Error(run.lines.join(' '));
  return header.bytes();
}

/** @param {{job: number}} asked */
async function finish({ job }) {
  const wav = preparing.get(job);
  if (wav === undefined) return;
  preparing.delete(job);
  const header = await waveHeader(wav.end);
  wav.resolve({ wav: new Blob([header, wav.frames.blob()], { type: 'audio/wav' }) });
}

// Each handler takes the message and its job ({job, share, post}); it
// returns the answer, or [answer, transfer], or nothing for a message that is
// answered elsewhere or not at all.
/** @type {Record<string, import('./wav2ima/jobs.js').Handler>} */
const handlers = {
  modules: (message) => {
    modules = message.modules;
  },
  convert: (message, job) => convert(modules, message, job),
  read,
  prepare: (_message, { job }) => prepare(job),
  samples,
  finish,
  zip: (message, { share }) => zip(message, share),
};
serve(ownPort(), handlers, new Set(['modules', 'samples', 'finish']));
