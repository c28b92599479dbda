// Runs a WASI program under node as the npm package's commands run it, as a
// native program runs: its arguments, its standard streams, the file system
// as the user sees it and its exit status. The emulator of the WASI build,
// so that the test suite runs the programs through the package's own code:
//
//   node tools/wasi-run.mjs build-wasi/wav2ima.wasm in.wav out.ima
import { runCommand } from '../npm/cli.js';

const [program, ...args] = process.argv.slice(2);
process.exitCode = await runCommand(program, [program, ...args]);
