// The two conversions as functions of an input, for node and browsers alike:
// what `wav2ima IN OUT` and `ima2wav IN OUT` make of a file, run off the
// calling thread by the library's worker (library-worker.js), through the
// same runner and files as the page. The entry points give what differs
// between node and browsers (a `host`):
//   programs      the URLs of the three programs beside the module
//   load(url)     a program's bytes, from a URL or a path
//   startWorker() the worker: {post(message, transfer), on(handler),
//                 onError(handler), stop(), hold(busy)}
//   pulls         true where a SharedArrayBuffer can carry the caller's
//                 bytes to the worker slice by slice (node, and browser pages
//                 that are cross-origin isolated)
//   readsBlobs    true where the worker reads a Blob itself (browsers)
//   inputs        what an input may be, in words, for the TypeError
//   openFile(input) under node, for a file's path (a string or a file: URL)
//                 or a FileHandle: {size, read(bytes, position), close()},
//                 whose read fills `bytes` from `position` and gives the
//                 count read; undefined elsewhere

// A conversion the program refused: its message ("convert error"), its exit
// status, and what the file says of itself in plain words (`reason`, from
// the project's own chunk walk; null where it says nothing against the file).
export class ConversionError extends Error {
  constructor(message, status, reason) {
    super(message);
    this.name = 'ConversionError';
    this.status = status;
    this.reason = reason;
  }
}

// An input this small goes to the worker as a copy, with no round trip.
const kInline = 1 << 20;
// Bytes of a slice the calling thread copies to the worker at once.
const kPull = 4 << 20;
const kOutputs = ['bytes', 'blob'];
const kWasmMagic = [0x00, 0x61, 0x73, 0x6d];
// Bytes copied into a Blob between two turns of the event loop: a page that
// cannot share memory with the worker copies an array so, and stays free.
const kCopy = 8 << 20;

function isDetached(buffer) {
  try {
    buffer.slice(0, 0);
    return false;
  } catch {
    return true;
  }
}

// Where a conversion's input stood as it ran: a buffer shrunk or detached
// under it is said as such.
function changed(program, bytes) {
  const how = isDetached(bytes.buffer) ? 'detached' : 'resized';
  return new TypeError(`${program}: the input's ArrayBuffer was ${how} during the conversion`);
}

// The bytes as a Blob, copied a piece at a time, yielding between pieces;
// a Blob of Blobs copies nothing more.
async function blobOf(bytes) {
  const pieces = [];
  for (let start = 0; start < bytes.length; start += kCopy) {
    pieces.push(new Blob([bytes.subarray(start, start + kCopy)]));
    await new Promise((resume) => setTimeout(resume, 0));
  }
  return new Blob(pieces);
}

function abortError(signal) {
  return signal.reason ?? new DOMException('The conversion was aborted', 'AbortError');
}

export function library(host) {
  let sources = host.programs;
  let compiled = null;
  let worker = null;
  let nextJob = 0;
  const queue = [];
  let running = null;
  // Each AbortSignal's calls, under one listener: many listeners on one
  // signal make node warn of a leak.
  const watchers = new WeakMap();

  function compile(source, name) {
    if (source instanceof WebAssembly.Module) return source;
    if (source instanceof ArrayBuffer || ArrayBuffer.isView(source)) {
      return WebAssembly.compile(/** @type {BufferSource} */ (source));
    }
    if (typeof Response !== 'undefined' && source instanceof Response) {
      if (!source.ok) throw new Error(`${name}: ${source.status} ${source.statusText}`);
      return source.arrayBuffer().then((bytes) => compileFetched(bytes, source.url || name));
    }
    if (source instanceof URL || typeof source === 'string') {
      return host.load(source).then((bytes) => compileFetched(bytes, source));
    }
    throw new TypeError(
      `usePrograms: ${name} must be a URL, a string, a Response, bytes or a WebAssembly.Module`,
    );
  }

  // A program fetched from `from`; a server that answered with something
  // else (a dev server's page, most often) is named, with what it sent.
  function compileFetched(buffer, from) {
    const bytes = new Uint8Array(ArrayBuffer.isView(buffer) ? buffer.buffer : buffer);
    const start = ArrayBuffer.isView(buffer) ? buffer.byteOffset : 0;
    const head = bytes.subarray(start, start + 4);
    if (head.length < 4 || kWasmMagic.some((byte, i) => head[i] !== byte)) {
      const begins = String.fromCharCode(...head).replace(/[^ -~]/g, '?');
      throw new Error(
        `${from} is not a WebAssembly program (it begins "${begins}"): a dev server that moved ` +
          "the package away from its .wasm files answers so (Vite 7: optimizeDeps: { exclude: ['wav2ima'] })",
      );
    }
    return WebAssembly.compile(
      /** @type {BufferSource} */ (ArrayBuffer.isView(buffer) ? buffer : bytes),
    );
  }

  // The compiled programs, once; a load that failed is tried again. imaenc,
  // for conversions at a level, where the library was given it.
  function modules() {
    const names = ['wav2ima', 'ima2wav', 'wavcheck'];
    if (sources.imaenc !== undefined) names.push('imaenc');
    compiled ??= Promise.all(
      names.map(async (name) => [name, await compile(sources[name], name)]),
    ).then(Object.fromEntries);
    compiled.catch(() => {
      compiled = null;
    });
    return compiled;
  }

  // Hands the library the programs where it cannot find them beside itself
  // (a bundler that left the .wasm files behind): each a URL (or a string
  // naming one, or a path under node), a Response, bytes or a compiled
  // WebAssembly.Module.
  function usePrograms(programs) {
    for (const name of ['wav2ima', 'ima2wav', 'wavcheck']) {
      if (programs?.[name] === undefined) throw new TypeError(`usePrograms: ${name} is missing`);
    }
    sources = { ...programs };
    compiled = null;
  }

  async function startWorker() {
    const programs = await modules();
    if (worker !== null) return;
    worker = host.startWorker();
    worker.on(answer);
    worker.onError((error) => {
      const job = running;
      stopWorker();
      job?.reject(new Error(`the conversion's worker stopped: ${error?.message ?? error}`));
      next();
    });
    // Held only while a job runs, so that an idle worker keeps nothing alive
    // (after the listeners, which hold it).
    worker.hold(false);
    worker.post({ type: 'modules', modules: programs });
  }

  function stopWorker() {
    worker?.stop();
    worker = null;
    running = null;
  }

  async function next() {
    if (running !== null || queue.length === 0) return;
    running = queue.shift();
    const job = running;
    try {
      await startWorker();
    } catch (error) {
      running = null;
      job.reject(error);
      next();
      return;
    }
    if (running !== job) return; // aborted while the worker started
    // The input is taken only now, so that a queued call holds no copy.
    try {
      [job.transport, job.transfer] = await transport(job, job.input);
    } catch (error) {
      if (running !== job) return;
      running = null;
      job.reject(error);
      next();
      return;
    }
    if (running !== job) {
      // Aborted while its file opened: closed here, as the call settled.
      if (job.closeFile) job.file.close().catch(() => {});
      return;
    }
    worker.hold(true);
    worker.post(
      {
        type: 'convert',
        job: job.id,
        program: job.program,
        options: job.options,
        input: job.transport,
        output: job.output,
      },
      job.transfer,
    );
  }

  // A slice of a pulled input, copied into the shared buffer the worker
  // waits on. A read that fails tells the worker so, and the job why.
  async function answerRead(job, { position, size }) {
    const control = new Int32Array(job.shared, 0, 2);
    const data = new Uint8Array(job.shared, 8);
    const end = Math.min(position + Math.min(size, data.length), job.length);
    try {
      Atomics.store(control, 1, await readSlice(job, data, position, end));
    } catch (error) {
      job.failure ??= error;
      Atomics.store(control, 1, -1);
    }
    Atomics.store(control, 0, 1);
    Atomics.notify(control, 0);
  }

  // The input's bytes from `position` to `end` into `data`; their count.
  async function readSlice(job, data, position, end) {
    if (job.bytes !== null) {
      if (job.bytes.length !== job.length) throw changed(job.program, job.bytes);
      data.set(job.bytes.subarray(position, end));
      return end - position;
    }
    if (job.file !== null) {
      // A read may give less than asked for; only the file's end gives none.
      let filled = 0;
      while (position + filled < end) {
        const count = await job.file.read(data.subarray(filled, end - position), position + filled);
        if (count === 0) break;
        filled += count;
      }
      return filled;
    }
    const bytes = new Uint8Array(await job.blob.slice(position, end).arrayBuffer());
    data.set(bytes);
    return bytes.length;
  }

  function answer(message) {
    const job = running;
    if (job === null || message.job !== job.id) return;
    if (message.type === 'read') {
      answerRead(job, message);
      return;
    }
    if (message.type === 'share') {
      report(job, message.share);
      return;
    }
    running = null;
    worker.hold(false);
    job.settle(message);
    next();
  }

  // A caller's onProgress that throws fails its own call with what it threw,
  // never the queue behind it, and never as an uncaught exception.
  function report(job, share) {
    try {
      job.onProgress?.(share);
    } catch (error) {
      job.failure ??= error;
    }
  }

  function settle(job, message) {
    if (message.type === 'failed') {
      job.reject(new Error(`${job.program}: ${message.message}`));
    } else if (job.failure) {
      job.reject(job.failure);
    } else if (message.unreadable) {
      job.reject(new Error(`${job.program}: the input could not be read (${message.unreadable})`));
    } else if (message.status !== 0) {
      job.reject(
        new ConversionError(
          message.message || `exit status ${message.status}`,
          message.status,
          message.reason ?? null,
        ),
      );
    } else {
      report(job, 1);
      if (job.failure) job.reject(job.failure);
      else job.resolve(job.output === 'blob' ? message.output : new Uint8Array(message.output));
    }
  }

  // How the input reaches the worker: small ones as a copy, a Blob as it is
  // where the worker reads Blobs, anything else slice by slice through a
  // shared buffer, or, in a browser page that cannot share one, as a Blob.
  // A file is opened here, and read by this thread.
  async function transport(job, input) {
    job.input = null;
    if (isFile(input)) {
      job.file = await host.openFile(input);
      job.closeFile = typeof input === 'string' || input instanceof URL;
      return pulled(job, null, job.file.size);
    }
    const bytes = input instanceof Blob ? null : input;
    if (bytes !== null && isDetached(bytes.buffer)) {
      throw new TypeError(`${job.program}: the input's ArrayBuffer is detached`);
    }
    if (bytes !== null && bytes.length <= kInline) {
      // A copy of its own: a Buffer's slice() would be a view of the caller's.
      const copy = Uint8Array.prototype.slice.call(bytes);
      return [{ bytes: copy }, [copy.buffer]];
    }
    if (bytes === null && host.readsBlobs) return [{ blob: input }, []];
    if (bytes !== null && !host.pulls) {
      const length = bytes.length;
      const blob = await blobOf(bytes);
      if (bytes.length !== length) throw changed(job.program, bytes);
      return [{ blob }, []];
    }
    job.blob = bytes === null ? input : null;
    return pulled(job, bytes, input.size ?? bytes.length);
  }

  function pulled(job, bytes, length) {
    Object.assign(job, { bytes, length, shared: new SharedArrayBuffer(8 + kPull) });
    return [{ pulled: { size: length, shared: job.shared } }, []];
  }

  // A path or a FileHandle, where the host reads files.
  function isFile(input) {
    if (host.openFile === undefined) return false;
    if (typeof input === 'string' || input instanceof URL) return true;
    return (
      typeof input?.fd === 'number' &&
      typeof input.read === 'function' &&
      typeof input.stat === 'function'
    );
  }

  function watch(signal, job) {
    let watcher = watchers.get(signal);
    if (watcher === undefined) {
      const jobs = new Set();
      const onAbort = () => {
        watchers.delete(signal);
        const stopped = [...jobs];
        for (const each of stopped) {
          if (queue.includes(each)) queue.splice(queue.indexOf(each), 1);
        }
        if (stopped.includes(running)) {
          stopWorker();
          next();
        }
        for (const each of stopped) each.reject(abortError(signal));
      };
      watcher = { jobs, onAbort };
      watchers.set(signal, watcher);
      signal.addEventListener('abort', onAbort, { once: true });
    }
    watcher.jobs.add(job);
  }

  function unwatch(signal, job) {
    const watcher = watchers.get(signal);
    if (watcher === undefined) return;
    watcher.jobs.delete(job);
    if (watcher.jobs.size > 0) return;
    watchers.delete(signal);
    signal.removeEventListener('abort', watcher.onAbort);
  }

  function convert(program, input, options = {}) {
    return new Promise((resolve, reject) => {
      // null options are none, as undefined ones are.
      const { signal, onProgress, output = 'bytes', level } = options ?? {};
      // A level: imaenc's search, whose level 0 is wav2ima's own bytes.
      if (level !== undefined) {
        if (program !== 'wav2ima' || !Number.isInteger(level) || level < 0 || level > 9) {
          throw new TypeError(`${program}: level must be a whole number from 0 to 9`);
        }
        if (sources.imaenc === undefined) throw new TypeError('usePrograms: imaenc is missing');
      }
      if (input instanceof ArrayBuffer) {
        if (isDetached(input))
          throw new TypeError(`${program}: the input's ArrayBuffer is detached`);
        input = new Uint8Array(input);
      } else if (input instanceof Uint8Array) {
        if (isDetached(input.buffer))
          throw new TypeError(`${program}: the input's ArrayBuffer is detached`);
      } else if (!(typeof Blob !== 'undefined' && input instanceof Blob) && !isFile(input)) {
        throw new TypeError(`${program}: the input must be ${host.inputs}`);
      }
      if (!kOutputs.includes(output))
        throw new TypeError(`${program}: output must be 'bytes' or 'blob'`);
      if (onProgress !== undefined && typeof onProgress !== 'function') {
        throw new TypeError(`${program}: onProgress must be a function`);
      }
      if (signal?.aborted) throw abortError(signal);
      const settled = (then) => (value) => {
        if (signal) unwatch(signal, job);
        if (job.closeFile) job.file.close().catch(() => {});
        job.closeFile = false;
        then(value);
      };
      const job = {
        id: ++nextJob,
        program: level === undefined ? program : 'imaenc',
        options: level === undefined ? [] : [`-${level}`],
        output,
        onProgress,
        resolve: settled(resolve),
        reject: settled(reject),
        failure: null,
        input,
        file: null,
        closeFile: false,
      };
      job.settle = (message) => settle(job, message);
      if (signal) watch(signal, job);
      queue.push(job);
      next();
    });
  }

  return {
    wav2ima: (wav, options) => convert('wav2ima', wav, options),
    ima2wav: (stream, options) => convert('ima2wav', stream, options),
    usePrograms,
  };
}
