// Runs one of the project's WASI programs as a command line runs it: its
// arguments, a folder of files under the names the program is given, its
// standard output and error as lines, and its exit status. The page's worker
// and every other JavaScript caller run the programs through this alone.
import { ConsoleStdout, File, OpenFile, PreopenDirectory, WASI } from './shim/index.js';

// `module` is a compiled WebAssembly.Module; `files` maps names to the
// shim's inodes; `prepare`, if given, sees the shim's WASI object before the
// program starts. Resolves to {status, out, err, lines}: the lines of
// standard output, of standard error, and of both in the order they came.
// A program that traps rejects.
export async function runProgram(module, args, files, prepare = () => {}) {
  const out = [];
  const err = [];
  const lines = [];
  const stream = (own) => ConsoleStdout.lineBuffered((line) => {
    own.push(line);
    lines.push(line);
  });
  const fds = [
    new OpenFile(new File(new Uint8Array(0))),
    stream(out),
    stream(err),
    new PreopenDirectory('.', new Map(Object.entries(files))),
  ];
  // The shim logs every call to the console unless told not to.
  const wasi = new WASI(args, [], fds, { debug: false });
  prepare(wasi);
  const instance = await WebAssembly.instantiate(module, {
    wasi_snapshot_preview1: wasi.wasiImport,
  });
  const status = wasi.start(instance);
  return { status, out, err, lines };
}
