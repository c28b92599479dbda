// The library under node, as a caller uses it: every input kind to the
// native bytes, refusals with their reasons, wrong and detached inputs,
// abort, progress, a free event loop, programs handed over, and require().
import assert from 'node:assert/strict';
import { mkdtempSync, openAsBlob, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { open, truncate, writeFile } from 'node:fs/promises';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { monitorEventLoopDelay } from 'node:perf_hooks';
import { test } from 'node:test';
import { pathToFileURL } from 'node:url';
import { wavHeader } from '../../tools/wav_inputs.mjs';
import { example, load, native, packageDir } from './package.js';

const { wav2ima, ima2wav, usePrograms, ConversionError } = await load('wav2ima.node.js');
const sweep = readFileSync(example);
// The test stands on the native programs: without them it fails here.
const stream = /** @type {Buffer} */ (native('wav2ima', sweep));
const decoded = /** @type {Buffer} */ (native('ima2wav', stream));

// A WAV of 200 MB: long enough to be aborted, and to hold the event loop if
// it ran on node's own thread.
const long = Buffer.concat([wavHeader({ dataSize: 200e6 }), Buffer.alloc(200e6, 3)]);

test('every input kind gives the native bytes', async () => {
  const pooled = Buffer.from(sweep); // a small Buffer may share a pool at an offset
  const atOffset = new Uint8Array(sweep.length + 7);
  atOffset.set(sweep, 7);
  const path = join(mkdtempSync(join(tmpdir(), 'wav2ima-')), 'sweep.wav');
  writeFileSync(path, sweep);
  const handle = await open(path);
  /** @type {[string, unknown, (object | null)?][]} */
  const rows = [
    ['a Uint8Array', new Uint8Array(sweep)],
    ['a Buffer', pooled],
    ['a subarray at an offset', atOffset.subarray(7)],
    ['an ArrayBuffer', new Uint8Array(sweep).buffer],
    ['a Blob', new Blob([sweep])],
    ['a file as a Blob', await openAsBlob(path)],
    ["a file's path", path],
    ["a file's URL", pathToFileURL(path)],
    ['a FileHandle', handle],
    ['a FileHandle again, from its start', handle],
    ['with null options', new Uint8Array(sweep), null],
  ];
  for (const [name, input, options] of rows)
    assert.deepEqual(Buffer.from(await wav2ima(input, options)), stream, name);
  await handle.close();
  const blob = await wav2ima(sweep, { output: 'blob' });
  assert.ok(
    blob instanceof Blob && Buffer.from(await blob.arrayBuffer()).equals(stream),
    'output as a Blob',
  );
  const result = await wav2ima(sweep);
  assert.equal(result.buffer.byteLength, result.length, 'the result owns its buffer whole');
  assert.deepEqual(
    Buffer.from(await ima2wav(result.buffer)),
    decoded,
    "ima2wav of the result's buffer",
  );
  assert.deepEqual(Buffer.from(sweep), readFileSync(example), 'the input unchanged');
});

test("a level gives imaenc's bytes; a level outside 0 to 9 is refused", async () => {
  for (const level of [0, 3, 9]) {
    assert.deepEqual(
      Buffer.from(await wav2ima(sweep, { level })),
      native('imaenc', sweep, [`-${level}`]),
      `level ${level}`,
    );
  }
  assert.deepEqual(
    Buffer.from(
      await (await wav2ima(new Blob([sweep]), { level: 5, output: 'blob' })).arrayBuffer(),
    ),
    native('imaenc', sweep, ['-5']),
    'a Blob in and out at level 5',
  );
  for (const level of [-1, 10, 2.5, '3'])
    await assert.rejects(wav2ima(sweep, { level }), TypeError, `level ${level}`);
  await assert.rejects(ima2wav(stream, { level: 3 }), TypeError, 'ima2wav takes no level');
});

test('inputs past the size sent whole are read in slices to the same bytes', async () => {
  const input = Buffer.concat([sweep, Buffer.alloc(3 << 20)]);
  input.writeUInt32LE(sweep.length - 44 + (3 << 20), 40);
  input.writeUInt32LE(sweep.length - 8 + (3 << 20), 4);
  /** @type {number[]} */
  const shares = [];
  assert.deepEqual(
    Buffer.from(
      await wav2ima(input, { onProgress: (/** @type {number} */ share) => shares.push(share) }),
    ),
    native('wav2ima', input),
  );
  assert.ok(
    shares.length >= 2 &&
      shares.every((share, i) => i === 0 || share >= shares[i - 1]) &&
      shares.at(-1) === 1,
    `progress: ${shares}`,
  );
  assert.deepEqual(
    Buffer.from(await ima2wav(new Blob([new Uint8Array(stream)]))),
    decoded,
    'ima2wav of a Blob',
  );
});

test("a refusal says the program's words and the file's", async () => {
  /** @type {[string, Buffer, string][]} */
  const rows = [
    [
      'a 48 kHz mono WAV',
      Buffer.concat([wavHeader({ channels: 1, rate: 48000, dataSize: 4 }), Buffer.alloc(4)]),
      'mono: 1 channel, wav2ima converts stereo; 48000 Hz, wav2ima converts 44100 Hz',
    ],
    [
      'a 24-bit WAV',
      Buffer.concat([wavHeader({ bits: 24, dataSize: 6 }), Buffer.alloc(6)]),
      '24-bit, wav2ima converts 16-bit',
    ],
    ['JSON', Buffer.from('{"not": "audio"}'), 'not a RIFF/WAVE file'],
    [
      'a cut WAV past the size sent whole',
      long.subarray(0, 3 << 20),
      'cut short: the file ends before its last chunk does',
    ],
  ];
  for (const [name, input, reason] of rows) {
    const error = await wav2ima(input).catch((/** @type {unknown} */ caught) => caught);
    assert.ok(error instanceof ConversionError, name);
    assert.deepEqual(
      [error.message, error.status, error.reason],
      ['convert error', 1, reason],
      name,
    );
  }
});

test("wrong and detached inputs are TypeErrors in the library's words", async () => {
  for (const input of [42, null, new Int16Array(4), new DataView(new ArrayBuffer(4))]) {
    await assert.rejects(wav2ima(input), {
      name: 'TypeError',
      message:
        'wav2ima: the input must be a Uint8Array, an ArrayBuffer, a Blob, a file path or URL, or a FileHandle',
    });
  }
  await assert.rejects(wav2ima(join(tmpdir(), 'wav2ima-missing.wav')), { code: 'ENOENT' });
  const detached = new Uint8Array(sweep).buffer;
  structuredClone(detached, { transfer: [detached] });
  await assert.rejects(ima2wav(detached), {
    name: 'TypeError',
    message: "ima2wav: the input's ArrayBuffer is detached",
  });
  const during = new Uint8Array(long);
  const converting = wav2ima(during);
  setTimeout(() => structuredClone(during.buffer, { transfer: [during.buffer] }), 20);
  await assert.rejects(converting, {
    name: 'TypeError',
    message: "wav2ima: the input's ArrayBuffer was detached during the conversion",
  });
  await assert.rejects(wav2ima(sweep, { output: 'text' }), TypeError);
  const resizable = new ArrayBuffer(long.length, { maxByteLength: long.length });
  new Uint8Array(resizable).set(long);
  const shrinking = wav2ima(new Uint8Array(resizable));
  setTimeout(() => resizable.resize(1000), 20);
  await assert.rejects(shrinking, {
    name: 'TypeError',
    message: "wav2ima: the input's ArrayBuffer was resized during the conversion",
  });
});

test('queued calls hold no copy of their input, and share a signal quietly', async () => {
  /** @type {string[]} */
  const warnings = [];
  const onWarning = (/** @type {Error} */ warning) => warnings.push(warning.name);
  process.on('warning', onWarning);
  const controller = new AbortController();
  for (const size of [1 << 20, (1 << 20) + 1]) {
    const input = Buffer.concat([wavHeader({ dataSize: size - 44 }), Buffer.alloc(size - 44)]);
    const before = process.memoryUsage().arrayBuffers;
    const calls = Array.from({ length: 200 }, () => wav2ima(input, { signal: controller.signal }));
    const held = process.memoryUsage().arrayBuffers - before;
    assert.ok(held < 50 * size, `200 queued calls of ${size} bytes hold ${held} bytes`);
    const outcomes = await Promise.allSettled(calls);
    assert.ok(
      outcomes.every(({ status }) => status === 'fulfilled'),
      `${size} bytes`,
    );
  }
  const aborted = Array.from({ length: 20 }, () => wav2ima(long, { signal: controller.signal }));
  controller.abort();
  for (const call of aborted) await assert.rejects(call, { name: 'AbortError' });
  await new Promise((resolve) => setImmediate(resolve));
  process.off('warning', onWarning);
  assert.deepEqual(warnings, []);
});

test('a file past 4 GiB converts whole; an output past one array asks for a Blob', async () => {
  const dir = mkdtempSync(join(tmpdir(), 'wav2ima-large-'));
  try {
    // Written as a stream is: the data's size left at its largest.
    const wav = join(dir, 'five.wav');
    await writeFile(wav, wavHeader({ unknownSize: true }));
    await truncate(wav, 5_000_000_044);
    const result = await wav2ima(wav);
    assert.equal(result.length, 1_250_000_000);
    const zeros = Buffer.alloc(1 << 26);
    for (let at = 0; at < result.length; at += zeros.length) {
      const part = result.subarray(at, at + zeros.length);
      assert.ok(zeros.subarray(0, part.length).equals(part), `silence at ${at}`);
    }
    const ima = join(dir, 'long.ima');
    await writeFile(ima, '');
    await truncate(ima, 2 ** 30 + 1);
    const length = 44 + 4 * (2 ** 30 + 1);
    let fits = true;
    try {
      new Uint8Array(length);
    } catch {
      fits = false;
    }
    if (!fits) {
      await assert.rejects(ima2wav(ima), {
        message: `ima2wav: the output, ${length} bytes, is more than one array holds: ask for output: 'blob'`,
      });
    }
  } finally {
    rmSync(dir, { recursive: true });
  }
});

test('abort stops the conversion, and the next one runs', async () => {
  await assert.rejects(wav2ima(sweep, { signal: AbortSignal.abort() }), { name: 'AbortError' });
  const controller = new AbortController();
  const converting = wav2ima(long, {
    signal: controller.signal,
    onProgress: () => controller.abort(),
  });
  const asked = Date.now();
  await assert.rejects(converting, { name: 'AbortError' });
  assert.ok(
    Date.now() - asked < 10000,
    'aborted within seconds (bench/library.mjs: within a second)',
  );
  assert.deepEqual(Buffer.from(await wav2ima(sweep)), stream);
});

test('an onProgress that throws rejects its own call with it; the calls behind it run', async () => {
  const gone = new Error('gone');
  const thrown = (/** @type {unknown} */ error) => error === gone;
  const atTheEnd = wav2ima(sweep, {
    onProgress: (/** @type {number} */ share) => {
      if (share === 1) throw gone;
    },
  });
  const behind = wav2ima(sweep);
  await assert.rejects(atTheEnd, thrown);
  assert.deepEqual(Buffer.from(await behind), stream);
  await assert.rejects(
    wav2ima(long, {
      onProgress: () => {
        throw gone;
      },
    }),
    thrown,
  );
  assert.deepEqual(Buffer.from(await wav2ima(sweep)), stream);
});

test('the event loop stays free while a long conversion runs', async () => {
  const delay = monitorEventLoopDelay({ resolution: 1 });
  delay.enable();
  await wav2ima(long);
  delay.disable();
  // bench/library.mjs measures it against 50 ms; this guard is wide.
  assert.ok(delay.max / 1e6 < 500, `the longest delay: ${(delay.max / 1e6).toFixed(1)} ms`);
});

test('programs handed over: bytes, a path, a Module; a wrong one said', async () => {
  const bytes = (/** @type {string} */ name) => readFileSync(join(packageDir, `${name}.wasm`));
  const rows = [
    { wav2ima: bytes('wav2ima'), ima2wav: bytes('ima2wav'), wavcheck: bytes('wavcheck') },
    {
      wav2ima: join(packageDir, 'wav2ima.wasm'),
      ima2wav: join(packageDir, 'ima2wav.wasm'),
      wavcheck: join(packageDir, 'wavcheck.wasm'),
    },
    {
      wav2ima: new WebAssembly.Module(bytes('wav2ima')),
      ima2wav: bytes('ima2wav'),
      wavcheck: bytes('wavcheck'),
    },
  ];
  try {
    for (const programs of rows) {
      usePrograms(programs);
      assert.deepEqual(Buffer.from(await wav2ima(sweep)), stream);
    }
    assert.throws(() => usePrograms({ wav2ima: bytes('wav2ima') }), /ima2wav is missing/);
    usePrograms({ wav2ima: 42, ima2wav: 42, wavcheck: 42 });
    await assert.rejects(wav2ima(sweep), /usePrograms: wav2ima must be a URL/);
    // What a dev server answers for a file it does not have: its page.
    const page = join(mkdtempSync(join(tmpdir(), 'wav2ima-')), 'index.html');
    writeFileSync(page, '<!doctype html><title>app</title>');
    usePrograms({ wav2ima: page, ima2wav: page, wavcheck: page });
    await assert.rejects(wav2ima(sweep), ({ message }) =>
      message.startsWith(`${page} is not a WebAssembly program (it begins "<!do")`),
    );
  } finally {
    usePrograms(
      Object.fromEntries(
        ['wav2ima', 'ima2wav', 'wavcheck'].map((name) => [name, join(packageDir, `${name}.wasm`)]),
      ),
    );
  }
});

test('require() of the package gives the same functions', async () => {
  const required = createRequire(import.meta.url)(join(packageDir, 'wav2ima.node.js'));
  assert.deepEqual(Buffer.from(await required.wav2ima(sweep)), stream);
});
