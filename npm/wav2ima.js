// wav2ima and ima2wav in a browser, through any bundler: the programs are
// fetched from beside this module.
import { converters } from './convert.js';

// Each URL written out whole, so that a bundler sees the file it must ship.
const programs = {
  wav2ima: new URL('./wav2ima.wasm', import.meta.url),
  ima2wav: new URL('./ima2wav.wasm', import.meta.url),
};

async function compile(name) {
  const response = await fetch(programs[name]);
  if (!response.ok) throw new Error(`${programs[name]}: ${response.status} ${response.statusText}`);
  return WebAssembly.compile(await response.arrayBuffer());
}

export const { wav2ima, ima2wav } = converters(compile);
