// WAV inputs for the JavaScript tests and benchmarks, of any format the
// tests need, written here and not by the programs under test.
import { open } from 'node:fs/promises';

// A canonical WAV header; `unknownSize` writes both sizes as 0xFFFFFFFF, as
// a writer streaming to a pipe does.
/**
 * @typedef {object} WavFormat
 * @property {number} [channels]
 * @property {number} [rate]
 * @property {number} [bits]
 * @property {number} [dataSize]
 * @property {boolean} [unknownSize]
 */
/** @param {WavFormat} format */
export function wavHeader({
  channels = 2,
  rate = 44100,
  bits = 16,
  dataSize = 0,
  unknownSize = false,
}) {
  const header = Buffer.alloc(44);
  header.write('RIFF', 0);
  header.writeUInt32LE(unknownSize ? 0xffffffff : 36 + dataSize, 4);
  header.write('WAVEfmt ', 8);
  header.writeUInt32LE(16, 16);
  header.writeUInt16LE(1, 20);
  header.writeUInt16LE(channels, 22);
  header.writeUInt32LE(rate, 24);
  header.writeUInt32LE((rate * channels * bits) / 8, 28);
  header.writeUInt16LE((channels * bits) / 8, 32);
  header.writeUInt16LE(bits, 34);
  header.write('data', 36);
  header.writeUInt32LE(unknownSize ? 0xffffffff : dataSize, 40);
  return header;
}

// A WAV of silence but for a few patterns, around 2 GiB among other places:
// sparse, so that gigabytes cost little disk.
/**
 * @param {string} path
 * @param {number} dataSize
 * @param {WavFormat} [format]
 */
export async function sparseWav(path, dataSize, format = {}) {
  const file = await open(path, 'w');
  await file.write(wavHeader({ ...format, dataSize }), 0, 44, 0);
  const pattern = Buffer.from(Array.from({ length: 1 << 16 }, (_, i) => (i * 37) % 256));
  for (const offset of [0, Math.floor(dataSize / 3), 2 ** 31 - 2 ** 15, dataSize - (1 << 16)]) {
    if (offset >= 0 && offset + pattern.length <= dataSize)
      await file.write(pattern, 0, pattern.length, 44 + offset);
  }
  await file.truncate(44 + dataSize);
  await file.close();
}
