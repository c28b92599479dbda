// Preparing audio that wav2ima refuses: the browser decodes the file and
// resamples it to 44100 Hz (decodeAudioData into a context of that rate, so
// the resampler is the browser's own), mixes more than two channels down to
// stereo by its speaker rules (an OfflineAudioContext of two channels), and
// the samples go to the worker in slices, which writes them as a canonical
// 16-bit WAV for wav2ima to convert as any chosen file. Decoding holds the
// whole decoded audio in memory as 32-bit floats, hence the limits below;
// and chromium makes the decoded buffer on the page's thread, which no page
// can move elsewhere. Nothing of the converter is done here.

// One hour of stereo at 44.1 kHz is 1.3 GB of floats.
export const kMaxSeconds = 3600;
// The whole encoded file is read into memory before the browser decodes it.
export const kMaxBytes = 1 << 30;
const kRate = 44100;
// Frames handed to the worker at once: a second of audio, a copy of 350 KB.
const kSliceFrames = kRate;
// Slices copied between two yields to the page: a few milliseconds of work.
const kSlicesPerYield = 8;

// A file the page will not prepare, with the sentence that says why.
export class Refusal extends Error {}

// Files wav2ima refused that may still be audio the browser decodes: any
// WAV, and what the system or the name calls audio or video.
const kAudioNames = /\.(wav|wave|mp3|ogg|oga|opus|flac|m4a|aac|mp4|webm|aif|aiff|caf)$/i;
export const mayBeAudio = (file, why) =>
  /^(audio|video)\//.test(file.type) || kAudioNames.test(file.name) || !why.includes('not a RIFF/WAVE file');

// Decodes `file` at 44100 Hz, in one or two channels; `read(file)` gives
// its bytes as one ArrayBuffer (the worker reads it, so that the page's
// thread only receives it). `seconds`, the length a WAV says it has, refuses
// a long one before it is decoded; compressed audio tells its length only
// once decoded. Resolves to {buffer, channels (as the file had them),
// seconds}; rejects with a Refusal.
export async function decode(file, read, seconds) {
  const tooLong = new Refusal(`${file.name} is longer than one hour: preparing holds all of the ` +
    'decoded audio in memory, so the page prepares at most one hour. sox or ffmpeg can resample it.');
  if (seconds > kMaxSeconds) throw tooLong;
  if (file.size > kMaxBytes) {
    throw new Refusal(`${file.name} is too large to prepare here: the browser reads the whole file ` +
      `into memory to decode it, and the page takes at most ${kMaxBytes / (1 << 30)} GiB.`);
  }
  let decoded;
  try {
    decoded = await new OfflineAudioContext(1, 1, kRate).decodeAudioData(await read(file));
  } catch {
    throw new Refusal(`The browser could not decode ${file.name} as audio.`);
  }
  if (decoded.duration > kMaxSeconds) throw tooLong;
  const described = { channels: decoded.numberOfChannels, seconds: decoded.duration };
  if (decoded.numberOfChannels <= 2) return { buffer: decoded, ...described };
  const mix = new OfflineAudioContext(2, decoded.length, kRate);
  const source = mix.createBufferSource();
  source.buffer = decoded;
  source.connect(mix.destination);
  source.start();
  return { buffer: await mix.startRendering(), ...described };
}

// Hands the samples to `send(left, right, share)` a second at a time,
// yielding to the page every few slices; a mono channel goes to both sides.
// Stops early when `wanted()` turns false.
export async function sendSlices(buffer, send, wanted) {
  for (let start = 0, count = 0; start < buffer.length && wanted(); start += kSliceFrames) {
    const frames = Math.min(kSliceFrames, buffer.length - start);
    const left = new Float32Array(frames);
    buffer.copyFromChannel(left, 0, start);
    const right = new Float32Array(frames);
    buffer.copyFromChannel(right, buffer.numberOfChannels > 1 ? 1 : 0, start);
    send(left, right, (start + frames) / buffer.length);
    if (++count % kSlicesPerYield === 0) await new Promise((resume) => setTimeout(resume, 0));
  }
}
