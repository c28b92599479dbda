// The programs as commands under node, as the native ones run: their
// arguments, standard streams and exit status, and the file system as the
// user sees it. node's WASI is no sandbox, so the program is given the whole
// tree and starts in the working directory (named to it in PWD); its files
// are read and written as it asks, so files of any size stream.
import { readFile } from 'node:fs/promises';

export async function runCommand(wasm, args) {
  // node warns on standard error that WASI is experimental: that stream is
  // the program's.
  process.removeAllListeners('warning');
  const { WASI } = await import('node:wasi');
  const wasi = new WASI({
    version: 'preview1',
    args,
    env: { PWD: process.cwd() },
    preopens: { '/': '/' },
    returnOnExit: true,
  });
  const module = await WebAssembly.compile(await readFile(wasm));
  const instance = await WebAssembly.instantiate(module, { wasi_snapshot_preview1: wasi.wasiImport });
  return wasi.start(instance);
}
