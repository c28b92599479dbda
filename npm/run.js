// Runs one of the project's WASI programs as a command line runs it: its
// arguments, its descriptors and its exit status. The page's worker, the
// library and the commands all run the programs through this alone; what
// differs between them is the descriptors they give (files of the page's or
// the library's own, or the host's).
import { ConsoleStdout, File, OpenFile, PreopenDirectory, WASI } from './shim/index.js';

// The descriptors of a program run over `files` (names mapped to the shim's
// inodes) as the page and the library run it: nothing on standard input,
// standard output and error kept as lines in `out`, `err` and, in the order
// they came, `lines`, and the files in the folder the program starts in.
/** @param {Record<string, import('./shim/index.js').Inode>} files */
export function inFolder(files) {
  /** @type {string[]} */
  const out = [];
  /** @type {string[]} */
  const err = [];
  /** @type {string[]} */
  const lines = [];
  /** @param {string[]} own */
  const stream = (own) =>
    ConsoleStdout.lineBuffered((line) => {
      own.push(line);
      lines.push(line);
    });
  const fds = [
    new OpenFile(new File(new Uint8Array(0))),
    stream(out),
    stream(err),
    new PreopenDirectory('.', new Map(Object.entries(files))),
  ];
  return { fds, out, err, lines };
}

// The shim's calls this runner answers itself. The shim sizes the arguments
// and environment by their JavaScript length but writes them as UTF-8, so a
// name outside ASCII overran the program's buffer: they are sized in UTF-8
// bytes here. And a file that offers `readInto(view)` or `writeFrom(view)`
// reads or writes the program's memory where it is, instead of through the
// copies the shim makes. Relies on the shim's `inst`, `fds`, `args` and
// `env`, and on 8-byte iovecs {buf, len}.
/** @param {WASI} shim */
function answerOwnCalls(shim) {
  const encoder = new TextEncoder();
  /** @param {string[]} strings */
  const bytes = (strings) => strings.reduce((sum, s) => sum + encoder.encode(s).length + 1, 0);
  /** @param {'args' | 'env'} key */
  const sizes = (key) => (/** @type {number} */ countAt, /** @type {number} */ sizeAt) => {
    const view = new DataView(shim.inst.exports.memory.buffer);
    view.setUint32(countAt, shim[key].length, true);
    view.setUint32(sizeAt, bytes(shim[key]), true);
    return 0;
  };
  Object.assign(shim.wasiImport, {
    args_sizes_get: sizes('args'),
    environ_sizes_get: sizes('env'),
    fd_read: inPlace(shim, 'readInto', shim.wasiImport.fd_read),
    fd_write: inPlace(shim, 'writeFrom', shim.wasiImport.fd_write),
  });
}

// fd_read or fd_write over the program's memory for a file that has
// `method`; the shim's own call for any other.
/**
 * @param {WASI} shim
 * @param {'readInto' | 'writeFrom'} method
 * @param {(...args: any[]) => unknown} shims the shim's own call
 */
function inPlace(shim, method, shims) {
  /** @type {(fd: number, iovs: number, count: number, doneAt: number) => unknown} */
  return (fd, iovs, count, doneAt) => {
    /** @type {any} A file of the shim's, or of this project's, which may read in place */
    const file = shim.fds[fd];
    if (typeof file?.[method] !== 'function') return shims(fd, iovs, count, doneAt);
    const memory = shim.inst.exports.memory.buffer;
    const view = new DataView(memory);
    let done = 0;
    for (let i = 0; i < count; i++) {
      const length = view.getUint32(iovs + 8 * i + 4, true);
      const part = file[method](new Uint8Array(memory, view.getUint32(iovs + 8 * i, true), length));
      // Bytes that went through count, as the kernel counts them; an error
      // with none is the call's.
      if (part.ret !== 0 && done === 0) return part.ret;
      done += part.count;
      if (part.ret !== 0 || part.count < length) break;
    }
    view.setUint32(doneAt, done, true);
    return 0;
  };
}

// Runs `module` (a compiled WebAssembly.Module) with `args` (the program's
// name first), `fds` (the shim's open files, by number) and `env`
// (NAME=value strings). Resolves to the exit status; a program that traps
// rejects.
/**
 * @param {WebAssembly.Module} module
 * @param {string[]} args
 * @param {import('./shim/index.js').Fd[]} fds
 * @param {string[]} [env]
 * @returns {Promise<number>}
 */
export async function runProgram(module, args, fds, env = []) {
  // The shim logs every call to the console unless told not to.
  const shim = new WASI(args, env, fds, { debug: false });
  answerOwnCalls(shim);
  // Made at once: the module is compiled, and the asynchronous call's round
  // trip cost twice the instance (a quarter of a millisecond) here.
  const instance = new WebAssembly.Instance(module, { wasi_snapshot_preview1: shim.wasiImport });
  // The shim's declaration names the two exports every WASI command has.
  return shim.start(/** @type {any} */ (instance));
}
