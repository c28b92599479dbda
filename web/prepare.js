// Preparing audio that wav2ima refuses: the browser decodes the file and
// resamples it to 44100 Hz (decodeAudioData into a context of that rate, so
// the resampler is the browser's own), mixes more than two channels down to
// stereo by its speaker rules (an OfflineAudioContext of two channels), and
// the samples go to the worker in slices, which writes them as a canonical
// 16-bit WAV for wav2ima to convert as any chosen file. Nothing of the
// converter is done here.
//
// Decoding holds all of the decoded audio in memory as 32-bit floats (and
// chromium makes it on the page's thread, which no page can move), so the
// page learns what it can before decoding and refuses what would not fit.

// The budget: one hour of stereo, in channels x seconds. A file of more than
// two channels counts two more, the stereo mix the browser renders of it.
export const kChannelSeconds = 7200;
// The whole encoded file is read into memory before the browser decodes it.
export const kMaxBytes = 1 << 30;
const kRate = 44100;
// Bytes decoded to learn a compressed file's channels: a second or more of
// any format that starts with its header.
const kProbeBytes = 1 << 20;
// A compressed file holding more than this per second of decoded audio is
// damaged or mostly not audio: above any compressed format's bit rate.
const kMaxBytesPerSecond = 1.5e6;
// Frames handed to the worker at once: a second of audio, a copy of 350 KB.
const kSliceFrames = kRate;
// Samples scanned for the peak between two yields: a few milliseconds.
const kScanSamples = 1 << 20;
// A mix whose peak passes full scale is scaled to -0.1 dBFS: the codec
// overshoots near full scale, where a peak at -0.001 dBFS decodes with 0.2%
// of its samples at the rails and one at -0.05 dBFS with almost none.
const kFullScale = 32767.5 / 32768;
const kTargetPeak = 10 ** (-0.1 / 20);

// A file the page will not prepare, with the sentence that says why.
export class Refusal extends Error {}
// A file whose bytes could not be read (it changed or vanished since it
// was chosen), with the browser's words.
export class Unreadable extends Error {}

const yieldToPage = () => new Promise((resume) => setTimeout(resume, 0));
/** @typedef {{channels: number | null, seconds: number}} Known */

const cost = (/** @type {{channels: number, seconds: number}} */ { channels, seconds }) =>
  (channels + (channels > 2 ? 2 : 0)) * seconds;
const described = (/** @type {number} */ channels, /** @type {number} */ seconds) =>
  `${channels === 1 ? '1 channel' : `${channels} channels`}, ${seconds.toFixed(1)} s`;

// The sentence that refuses a file of `channels` (null when unknown: counted
// as 8, the most a browser is asked to decode) and `seconds`, or null when it
// fits.
/**
 * @param {string} name
 * @param {Known} known
 */
export function overBudget(name, { channels, seconds }) {
  if (!(cost({ channels: channels ?? 8, seconds }) > kChannelSeconds)) return null;
  const what =
    channels === null
      ? `${seconds.toFixed(1)} s of channels the page could not count ` +
        'before decoding (it counts 8)'
      : described(channels, seconds);
  return (
    `${name} is too long to prepare here (${what}): preparing holds all of the decoded ` +
    `audio in memory, so the page prepares at most ${kChannelSeconds} channel-seconds (one hour ` +
    'of stereo, 15 minutes of 5.1). sox or ffmpeg can resample it.'
  );
}

// How long a compressed file plays, as an <audio> element reads it from the
// file's headers; NaN where it cannot tell.
/**
 * @param {Blob} file
 * @returns {Promise<number>}
 */
function mediaSeconds(file) {
  return new Promise((resolve) => {
    const audio = new Audio();
    const url = URL.createObjectURL(file);
    const done = (/** @type {number} */ seconds) => {
      audio.removeAttribute('src');
      URL.revokeObjectURL(url);
      resolve(Number.isFinite(seconds) ? seconds : NaN);
    };
    audio.preload = 'metadata';
    audio.onloadedmetadata = () => done(audio.duration);
    audio.onerror = () => done(NaN);
    audio.src = url;
  });
}

/** @param {ArrayBuffer} bytes */
async function decodeBytes(bytes) {
  return new OfflineAudioContext(1, 1, kRate).decodeAudioData(bytes);
}

// What the page can learn of a compressed file before decoding it all: its
// length, and its channels from its first MiB decoded. Rejects with a
// Refusal for a file the browser does not decode at all.
/**
 * @param {File} file
 * @returns {Promise<Known>}
 */
export async function describe(file) {
  const head = await file
    .slice(0, kProbeBytes)
    .arrayBuffer()
    .catch((/** @type {Error} */ error) => {
      throw new Unreadable(`${error.name}: ${error.message}`);
    });
  const [seconds, channels] = await Promise.all([
    mediaSeconds(file),
    decodeBytes(head).then(
      (buffer) => buffer.numberOfChannels,
      () => null,
    ),
  ]);
  if (Number.isNaN(seconds) && channels === null) {
    throw new Refusal(`The browser could not decode ${file.name} as audio.`);
  }
  return { channels, seconds: Number.isNaN(seconds) ? 0 : seconds };
}

// Decodes `file` at 44100 Hz into one or two channels; `read(file)` gives
// its bytes as one ArrayBuffer (or rejects, as it likes, where it cannot).
// Resolves to {buffer, channels (as the file
// had them), seconds, note}, where `note` says when far less was decoded
// than the file's size suggests; rejects with a Refusal.
/**
 * @param {File} file
 * @param {(file: File) => Promise<ArrayBuffer>} read
 */
export async function decode(file, read) {
  if (file.size > kMaxBytes) {
    throw new Refusal(
      `${file.name} is too large to prepare here: the browser reads the whole ` +
        `file into memory to decode it, and the page takes at most ${kMaxBytes / (1 << 30)} GiB.`,
    );
  }
  const bytes = await read(file);
  let decoded;
  try {
    decoded = await decodeBytes(bytes);
  } catch {
    throw new Refusal(`The browser could not decode ${file.name} as audio.`);
  }
  /** @type {{channels: number, seconds: number, note: string | null}} */
  const result = { channels: decoded.numberOfChannels, seconds: decoded.duration, note: null };
  if (file.size > kMaxBytesPerSecond * Math.max(decoded.duration, 1)) {
    result.note =
      `only ${decoded.duration.toFixed(1)} s of audio came from ${file.name}, far ` +
      `less than its ${(file.size / 1e6).toFixed(1)} MB suggest: it may be damaged`;
  }
  if (decoded.numberOfChannels <= 2) return { buffer: decoded, ...result };
  const mix = new OfflineAudioContext(2, decoded.length, kRate);
  const source = mix.createBufferSource();
  source.buffer = decoded;
  source.connect(mix.destination);
  source.start();
  return { buffer: await mix.startRendering(), ...result };
}

// The gain that keeps every sample of `buffer` within full scale: 1 where
// none passes it, else what brings the peak to -0.1 dBFS. Scans in slices
// that yield to the page; stops early when `signal` aborts.
/**
 * @param {AudioBuffer} buffer
 * @param {AbortSignal} signal
 */
export async function gainFor(buffer, signal) {
  let peak = 0;
  for (let channel = 0; channel < buffer.numberOfChannels; channel++) {
    const samples = buffer.getChannelData(channel);
    for (let start = 0; start < samples.length; start += kScanSamples) {
      signal.throwIfAborted();
      const end = Math.min(samples.length, start + kScanSamples);
      for (let i = start; i < end; i++) peak = Math.max(peak, Math.abs(samples[i]));
      await yieldToPage();
    }
  }
  return peak > kFullScale ? kTargetPeak / peak : 1;
}

// Hands the samples to `send(left, right, share)` a second at a time,
// yielding to the page every few slices; a mono channel goes to both sides.
// Stops early when `signal` aborts.
/**
 * @param {AudioBuffer} buffer
 * @param {(left: Float32Array, right: Float32Array, share: number) => void} send
 * @param {AbortSignal} signal
 */
export async function sendSlices(buffer, send, signal) {
  for (let start = 0, count = 0; start < buffer.length; start += kSliceFrames) {
    signal.throwIfAborted();
    const frames = Math.min(kSliceFrames, buffer.length - start);
    const left = new Float32Array(frames);
    buffer.copyFromChannel(left, 0, start);
    const right = new Float32Array(frames);
    buffer.copyFromChannel(right, buffer.numberOfChannels > 1 ? 1 : 0, start);
    send(left, right, (start + frames) / buffer.length);
    if (++count % 8 === 0) await yieldToPage();
  }
}
