// Runs a WASI program under node, as a native program runs: its arguments,
// its standard streams, the working directory (as "." and under its own
// absolute path) and its exit status. The emulator of the WASI build:
//
//   node tools/wasi-run.mjs build-wasi/wav2ima.wasm in.wav out.ima
import { readFile } from 'node:fs/promises';

// node warns that WASI is experimental on standard error, which is the
// program's: the messages compared by the tests are the program's alone.
process.removeAllListeners('warning');
const { WASI } = await import('node:wasi');

const [program, ...args] = process.argv.slice(2);
const cwd = process.cwd();
const wasi = new WASI({
  version: 'preview1',
  args: [program, ...args],
  env: {},
  preopens: { '.': cwd, [cwd]: cwd },
  returnOnExit: true,
});
const module = await WebAssembly.compile(await readFile(program));
const instance = await WebAssembly.instantiate(module, wasi.getImportObject());
process.exitCode = wasi.start(instance);
