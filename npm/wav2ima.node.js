// wav2ima and ima2wav under node: the programs are read from beside this
// module.
import { readFile } from 'node:fs/promises';
import { converters } from './convert.js';

const compile = async (name) =>
  WebAssembly.compile(await readFile(new URL(`./${name}.wasm`, import.meta.url)));

export const { wav2ima, ima2wav } = converters(compile);
