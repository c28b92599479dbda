// The two conversions as functions of bytes: what `wav2ima IN OUT` and
// `ima2wav IN OUT` make of a file, in memory, through the same runner and
// file system as the page. `compile(name)` resolves to the compiled program;
// the entry points give it for node and for browsers.
import { BlockOutput } from './files.js';
import { File } from './shim/index.js';
import { inFolder, runProgram } from './run.js';

export function converters(compile) {
  const compiled = new Map();
  const moduleOf = (name) => {
    if (!compiled.has(name)) compiled.set(name, compile(name).catch((error) => {
      compiled.delete(name); // tried again on the next call
      throw error;
    }));
    return compiled.get(name);
  };

  // Rejects with the program's own message and its exit status.
  async function convert(program, input, inputName, outputName) {
    if (!(input instanceof Uint8Array || input instanceof ArrayBuffer)) {
      throw new TypeError(`${program}: the input must be a Uint8Array or an ArrayBuffer`);
    }
    const output = new BlockOutput('application/octet-stream');
    const { fds, err } = inFolder({
      [inputName]: new File(input, { readonly: true }),
      [outputName]: output,
    });
    const status = await runProgram(await moduleOf(program), [program, inputName, outputName], fds);
    if (status !== 0) {
      throw Object.assign(new Error(err.join('\n') || `exit status ${status}`), { status });
    }
    return new Uint8Array(await output.blob().arrayBuffer());
  }

  return {
    wav2ima: (wav) => convert('wav2ima', wav, 'in.wav', 'out.ima'),
    ima2wav: (stream) => convert('ima2wav', stream, 'in.ima', 'out.wav'),
  };
}
