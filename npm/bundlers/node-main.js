// A node program bundled by esbuild, the programs inside the bundle as bytes
// (its binary loader): prints the SHA-256 of the stream of the WAV it is
// given.
import { createHash } from 'node:crypto';
import { readFile } from 'node:fs/promises';
import { usePrograms, wav2ima } from 'wav2ima';
import programs from 'wav2ima/programs';

usePrograms(programs);
const stream = await wav2ima(await readFile(process.argv[2]));
console.log(createHash('sha256').update(stream).digest('hex'));
