// Runs wav2ima.wasm and ima2wav.wasm as a command line runs them: their
// arguments, a folder holding the input, standard output and error as
// lines, and the exit status. In a worker, so that a long conversion never
// holds up the page; the file system is the WASI shim's, in memory.
import { File, OpenFile, PreopenDirectory, ConsoleStdout, WASI } from './browser_wasi_shim/index.js';

// Fetched and compiled once, as the page loads: nothing goes over the
// network after that.
const programs = Object.fromEntries(
  ['wav2ima', 'ima2wav'].map((name) => [
    name,
    fetch(new URL(`${name}.wasm`, import.meta.url))
      .then((response) => response.arrayBuffer())
      .then((bytes) => WebAssembly.compile(bytes)),
  ]),
);

// The shim's files grow by exactly what each write adds, copying the whole
// file every time: the output of a 100 MB WAV took 109 s to write. This file
// doubles its room instead, and tells how far its reader has come.
class MemoryFile extends File {
  constructor(bytes, onread = () => {}) {
    super(bytes);
    this.room = this.data;
    this.onread = onread;
  }

  reserve(end) {
    // A truncation gave the file new data of its own.
    if (this.data.buffer !== this.room.buffer) this.room = this.data;
    if (end > this.room.byteLength) {
      const room = new Uint8Array(Math.max(end, 2 * this.room.byteLength));
      room.set(this.data);
      this.room = room;
    }
    if (end > this.data.byteLength) this.data = this.room.subarray(0, end);
  }

  path_open(oflags, rights, fdflags) {
    const opened = super.path_open(oflags, rights, fdflags);
    if (opened.fd_obj === null) return opened;
    const file = new MemoryOpenFile(this);
    file.file_pos = opened.fd_obj.file_pos;
    return { ret: opened.ret, fd_obj: file };
  }
}

class MemoryOpenFile extends OpenFile {
  fd_write(data) {
    this.file.reserve(Number(this.file_pos) + data.byteLength);
    return super.fd_write(data);
  }

  fd_read(size) {
    const read = super.fd_read(size);
    this.file.onread(Number(this.file_pos));
    return read;
  }
}

// One run: {program, inputName, outputName, bytes} in; progress as
// {share} of the input read, then {status, lines, output}, the output's
// bytes only when the run succeeded.
onmessage = async ({ data: { program, inputName, outputName, bytes } }) => {
  const lines = [];
  const say = (line) => lines.push(line);
  let shown = 0;
  const input = new MemoryFile(bytes, (position) => {
    const share = position / bytes.byteLength;
    if (share - shown >= 0.01) {
      shown = share;
      postMessage({ share });
    }
  });
  const output = new MemoryFile(new Uint8Array(0));
  const folder = new Map([[inputName, input]]);
  if (outputName !== inputName) folder.set(outputName, output);
  const fds = [
    new OpenFile(new File(new Uint8Array(0))),
    ConsoleStdout.lineBuffered(say),
    ConsoleStdout.lineBuffered(say),
    new PreopenDirectory('.', folder),
  ];
  // The shim logs every call to the console unless told not to.
  const wasi = new WASI([program, inputName, outputName], [], fds, { debug: false });
  let status;
  try {
    const instance = await WebAssembly.instantiate(await programs[program], {
      wasi_snapshot_preview1: wasi.wasiImport,
    });
    status = wasi.start(instance);
  } catch (error) {
    say(String(error));
    status = -1;
  }
  const result = status === 0 ? output.data.slice() : null;
  postMessage({ status, lines, output: result }, result ? [result.buffer] : []);
};
