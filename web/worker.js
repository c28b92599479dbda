// The page's worker: it runs the programs over the files the page hands it,
// so that no conversion holds up the page, and hands back what they made as
// Blobs. One job a message, answered by one message:
//   {modules}                                  the compiled programs, once
//   {program, input, inputName, outputName, explain}
//       one run over `input` (a File or Blob): {share} messages as the
//       program reads, then {status, lines, output, unreadable, why}
//   {zip: [{name, blob}]}                      one zip of streams: {zip}
//   {read: file}                               the whole file: {bytes}, an
//       ArrayBuffer handed over, not copied
//   {samples: {left, right}}                   a slice of a WAV the page
//       prepares, no answer; then {finishWav} answers {wav}
// A job that throws answers {error}.
import { Zip, ZipPassThrough } from './fflate/browser.js';
import { BlockOutput, SliceInput } from './wav2ima/files.js';
import { inFolder, runProgram } from './wav2ima/run.js';

let modules = null;
const kOutputTypes = { wav2ima: 'application/octet-stream', ima2wav: 'audio/wav' };
// Bytes of a stream read at once into the zip, and of zip kept before they
// become a Blob part.
const kSlice = 4 << 20;

async function run({ program, input, inputName, outputName, explain }) {
  let shown = 0;
  const source = new SliceInput(input, (position) => {
    const share = position / Math.max(input.size, 1);
    if (share - shown >= 0.01) {
      shown = share;
      postMessage({ share });
    }
  });
  const output = new BlockOutput(kOutputTypes[program]);
  const { fds, lines } = inFolder({ [inputName]: source, [outputName]: output });
  const status = await runProgram(modules[program], [program, inputName, outputName], fds);
  const answer = { status, lines, output: status === 0 ? output.blob() : null };
  if (source.failure !== null) {
    answer.unreadable = `${source.failure.name}: ${source.failure.message}`;
  } else if (status !== 0 && explain) {
    // What the file says of itself, in the project's own words.
    const check = inFolder({ [inputName]: new SliceInput(input) });
    await runProgram(modules.wavcheck, ['wavcheck', inputName], check.fds);
    answer.why = check.out;
  }
  return answer;
}

// Stored entries: ADPCM does not compress.
function zip(entries) {
  const parts = [];
  let pending = [];
  let pendingBytes = 0;
  const flush = () => {
    parts.push(new Blob(pending));
    pending = [];
    pendingBytes = 0;
  };
  let failure = null;
  const archive = new Zip((error, chunk) => {
    if (error) failure = error;
    pending.push(chunk);
    pendingBytes += chunk.length;
    if (pendingBytes >= kSlice) flush();
  });
  const reader = new FileReaderSync();
  for (const { name, blob } of entries) {
    const entry = new ZipPassThrough(name);
    archive.add(entry);
    if (blob.size === 0) entry.push(new Uint8Array(0), true);
    for (let at = 0; at < blob.size; at += kSlice) {
      const bytes = new Uint8Array(reader.readAsArrayBuffer(blob.slice(at, at + kSlice)));
      entry.push(bytes, at + kSlice >= blob.size);
    }
  }
  archive.end();
  flush();
  if (failure) throw failure;
  return new Blob(parts, { type: 'application/zip' });
}

// The WAV the page prepares, written as its slices come: a canonical
// header, then 16-bit frames, each sample rounded to the nearest and clamped.
const kHeaderBytes = 44;
let prepared = null;
const pcm16 = (x) => Math.min(32767, Math.max(-32768, Math.round(x * 32768)));

function addSamples({ left, right }) {
  prepared ??= { file: new BlockOutput('audio/wav'), end: kHeaderBytes };
  const frames = new DataView(new ArrayBuffer(left.length * 4));
  for (let i = 0; i < left.length; i++) {
    frames.setInt16(4 * i, pcm16(left[i]), true);
    frames.setInt16(4 * i + 2, pcm16(right[i]), true);
  }
  prepared.file.write(new Uint8Array(frames.buffer), prepared.end);
  prepared.end += frames.byteLength;
}

function finishWav() {
  if (prepared === null) throw new Error('no samples came');
  const dataSize = prepared.end - kHeaderBytes;
  const header = new DataView(new ArrayBuffer(kHeaderBytes));
  for (const [at, tag] of [[0, 'RIFF'], [8, 'WAVE'], [12, 'fmt '], [36, 'data']]) {
    [...tag].forEach((c, i) => header.setUint8(at + i, c.charCodeAt(0)));
  }
  // Size, format 1 (PCM), 2 channels, 44100 Hz, bytes per second and
  // frame, 16 bits, data size.
  const fields = [[4, 36 + dataSize, 4], [16, 16, 4], [20, 1, 2], [22, 2, 2], [24, 44100, 4],
    [28, 176400, 4], [32, 4, 2], [34, 16, 2], [40, dataSize, 4]];
  for (const [at, value, size] of fields) {
    if (size === 4) header.setUint32(at, value, true);
    else header.setUint16(at, value, true);
  }
  prepared.file.write(new Uint8Array(header.buffer), 0);
  const wav = prepared.file.blob();
  prepared = null;
  return wav;
}

onmessage = async ({ data }) => {
  if (data.modules) {
    modules = data.modules;
    return;
  }
  if (data.samples) {
    addSamples(data.samples);
    return;
  }
  try {
    if (data.read) {
      const bytes = new FileReaderSync().readAsArrayBuffer(data.read);
      postMessage({ bytes }, [bytes]);
    } else if (data.finishWav) postMessage({ wav: finishWav() });
    else postMessage(data.zip ? { zip: zip(data.zip) } : await run(data));
  } catch (error) {
    postMessage({ error: String(error?.message ?? error) });
  }
};
