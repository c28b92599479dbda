// The two conversions as functions of an input, for node and browsers alike:
// what `wav2ima IN OUT` and `ima2wav IN OUT` make of a file, run off the
// calling thread by the library's worker (library-worker.js), through the
// same bridge, runner and files as the page. The entry points give what differs
// between node and browsers (a `host`):
//   programs      the URLs of the three programs beside the module
//   load(url)     a program's bytes, from a URL or a path
//   startWorker() the worker, as bridge.js drives it: {post(message,
//                 transfer), on(handler), onError(handler), stop(), hold(busy)}
//   pulls         true where a SharedArrayBuffer can carry the caller's
//                 bytes to the worker slice by slice (node, and browser pages
//                 that are cross-origin isolated)
//   readsBlobs    true where the worker reads a Blob itself (browsers)
//   inputs        what an input may be, in words, for the TypeError
//   openFile(input) under node, for a file's path (a string or a file: URL)
//                 or a FileHandle: {size, read(bytes, position), close()},
//                 whose read fills `bytes` from `position` and gives the
//                 count read; undefined elsewhere

import { Bridge, Failed, NotLoaded, Stopped } from './bridge.js';

/** @typedef {import('./wav2ima.js').ProgramSource} ProgramSource */
/** @typedef {import('./wav2ima.js').WavOptions} WavOptions */
/** @typedef {import('./bridge.js').WorkerLink} WorkerLink */
/**
 * @typedef {object} OpenedFile
 * @property {number} size
 * @property {(bytes: Uint8Array, position: number) => Promise<number>} read
 * @property {() => Promise<void>} close
 */
/**
 * @typedef {object} Host
 * @property {Record<string, ProgramSource | undefined>} programs
 * @property {(url: string | URL) => Promise<ArrayBuffer | Uint8Array>} load
 * @property {() => WorkerLink} startWorker
 * @property {boolean} pulls
 * @property {boolean} readsBlobs
 * @property {string} inputs
 * @property {((input: any) => Promise<OpenedFile>)} [openFile]
 */
/**
 * A call, from its start to its end: what it asked for, and how its input
 * goes to the worker once it runs.
 * @typedef {object} Job
 * @property {string} program
 * @property {string[]} options
 * @property {string} output
 * @property {((share: number) => void) | undefined} onProgress
 * @property {(value: any) => void} resolve
 * @property {(error: any) => void} reject
 * @property {unknown} failure
 * @property {any} input the caller's, until the call runs
 * @property {Pull | null} pull
 * @property {boolean} closeFile
 */
/**
 * An input this thread reads for the worker, slice by slice, into `shared`:
 * one of `bytes`, `file` and `blob`.
 * @typedef {object} Pull
 * @property {Uint8Array | null} bytes
 * @property {OpenedFile | null} file
 * @property {Blob | null} blob
 * @property {number} length
 * @property {SharedArrayBuffer} shared
 */

// A conversion the program refused: its message ("convert error"), its exit
// status, and what the file says of itself in plain words (`reason`, from
// the project's own chunk walk; null where it says nothing against the file).
export class ConversionError extends Error {
  /**
   * @param {string} message
   * @param {number} status
   * @param {string | null} reason
   */
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

/** @param {ArrayBufferLike} buffer */
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
/**
 * @param {string} program
 * @param {Uint8Array} bytes
 */
function changed(program, bytes) {
  const how = isDetached(bytes.buffer) ? 'detached' : 'resized';
  return new TypeError(`${program}: the input's ArrayBuffer was ${how} during the conversion`);
}

// The bytes as a Blob, copied a piece at a time, yielding between pieces;
// a Blob of Blobs copies nothing more.
/** @param {Uint8Array} bytes */
async function blobOf(bytes) {
  /** @type {Blob[]} */
  const pieces = [];
  for (let start = 0; start < bytes.length; start += kCopy) {
    pieces.push(
      new Blob([/** @type {Uint8Array<ArrayBuffer>} */ (bytes.subarray(start, start + kCopy))]),
    );
    await new Promise((resume) => setTimeout(resume, 0));
  }
  return new Blob(pieces);
}

/** @param {AbortSignal} signal */
function abortError(signal) {
  return signal.reason ?? new DOMException('The conversion was aborted', 'AbortError');
}

/** @param {Host} host */
export function library(host) {
  let sources = host.programs;
  const bridge = new Bridge({ start: host.startWorker, load: () => modules() });
  /** @type {Promise<Record<string, WebAssembly.Module>> | null} */
  let compiled = null;
  /** @type {Job[]} */
  const queue = [];
  /** @type {Job | null} */
  let running = null;
  // Each AbortSignal's calls, under one listener: many listeners on one
  // signal make node warn of a leak.
  /** @type {WeakMap<AbortSignal, {jobs: Set<Job>, onAbort: () => void}>} */
  const watchers = new WeakMap();

  /**
   * @param {unknown} source
   * @param {string} name
   * @returns {WebAssembly.Module | Promise<WebAssembly.Module>}
   */
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
  /**
   * @param {ArrayBuffer | Uint8Array} buffer
   * @param {string | URL} from
   */
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
  /** @param {Record<string, ProgramSource | undefined>} programs */
  function usePrograms(programs) {
    for (const name of ['wav2ima', 'ima2wav', 'wavcheck']) {
      if (programs?.[name] === undefined) throw new TypeError(`usePrograms: ${name} is missing`);
    }
    sources = { ...programs };
    compiled = null;
  }

  async function next() {
    if (running !== null) return;
    const job = queue.shift();
    if (job === undefined) return;
    running = job;
    let answer;
    try {
      // The programs first: a call fails before its file is opened where
      // they cannot be loaded.
      await bridge.ready();
      if (running !== job) return; // aborted while the worker started
      // The input is taken only now, so that a queued call holds no copy.
      const [input, transfer] = await transport(job, job.input);
      if (running !== job) {
        // Aborted while its file opened: closed here, as the call settled.
        if (job.closeFile) job.pull?.file?.close().catch(() => {});
        return;
      }
      const opened = await bridge.open(
        'convert',
        { program: job.program, options: job.options, input, output: job.output },
        {
          transfer,
          onShare: (share) => report(job, share),
          onMessage: (message) => {
            if (message.type === 'read')
              answerRead(job, { position: message.position, size: message.size });
          },
        },
      );
      answer = await opened.answer;
    } catch (error) {
      if (running !== job) return; // aborted: its watcher settled it
      running = null;
      job.reject(failureOf(job, error));
      next();
      return;
    }
    if (running !== job) return;
    running = null;
    settle(job, answer);
    next();
  }

  // What a call rejects with when its job did not come back done: the
  // bridge's failures in the library's words, anything else as it is.
  /**
   * @param {Job} job
   * @param {unknown} error
   */
  function failureOf(job, error) {
    if (error instanceof NotLoaded) return error.cause;
    if (error instanceof Failed) return new Error(`${job.program}: ${error.message}`);
    if (error instanceof Stopped)
      return new Error(`the conversion's worker stopped: ${error.message}`);
    return error;
  }

  // A slice of a pulled input, copied into the shared buffer the worker
  // waits on. A read that fails tells the worker so, and the job why.
  /**
   * @param {Job} job
   * @param {{position: number, size: number}} asked
   */
  async function answerRead(job, { position, size }) {
    const pull = job.pull;
    if (pull === null) return;
    const control = new Int32Array(pull.shared, 0, 2);
    const data = new Uint8Array(pull.shared, 8);
    const end = Math.min(position + Math.min(size, data.length), pull.length);
    try {
      Atomics.store(control, 1, await readSlice(job.program, pull, data, position, end));
    } catch (error) {
      job.failure ??= error;
      Atomics.store(control, 1, -1);
    }
    Atomics.store(control, 0, 1);
    Atomics.notify(control, 0);
  }

  // The input's bytes from `position` to `end` into `data`; their count.
  /**
   * @param {string} program
   * @param {Pull} pull
   * @param {Uint8Array} data
   * @param {number} position
   * @param {number} end
   */
  async function readSlice(program, { bytes, file, blob, length }, data, position, end) {
    if (bytes !== null) {
      if (bytes.length !== length) throw changed(program, bytes);
      data.set(bytes.subarray(position, end));
      return end - position;
    }
    if (file !== null) {
      // A read may give less than asked for; only the file's end gives none.
      let filled = 0;
      while (position + filled < end) {
        const count = await file.read(data.subarray(filled, end - position), position + filled);
        if (count === 0) break;
        filled += count;
      }
      return filled;
    }
    const read = new Uint8Array(
      await /** @type {Blob} */ (blob).slice(position, end).arrayBuffer(),
    );
    data.set(read);
    return read.length;
  }

  // A caller's onProgress that throws fails its own call with what it threw,
  // never the queue behind it, and never as an uncaught exception.
  /**
   * @param {Job} job
   * @param {number} share
   */
  function report(job, share) {
    try {
      job.onProgress?.(share);
    } catch (error) {
      job.failure ??= error;
    }
  }

  /**
   * @param {Job} job
   * @param {any} message the worker's answer, as convert.js gives it
   */
  function settle(job, message) {
    if (job.failure) {
      job.reject(job.failure);
    } else if (message.unreadable) {
      job.reject(new Error(`${job.program}: the input could not be read (${message.unreadable})`));
    } else if (message.status !== 0) {
      job.reject(
        new ConversionError(
          message.message || `exit status ${message.status}`,
          message.status,
          message.keys?.why.join('; ') || null,
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
  /**
   * @param {Job} job
   * @param {any} input checked by convert()
   * @returns {Promise<[object, ArrayBuffer[]]>}
   */
  async function transport(job, input) {
    job.input = null;
    if (host.openFile !== undefined && isFile(input)) {
      const file = await host.openFile(input);
      job.closeFile = typeof input === 'string' || input instanceof URL;
      return pulled(job, { bytes: null, file, blob: null, length: file.size });
    }
    /** @type {Uint8Array | null} */
    const bytes = input instanceof Blob ? null : input;
    if (bytes === null) {
      if (host.readsBlobs) return [{ blob: input }, []];
      return pulled(job, { bytes: null, file: null, blob: input, length: input.size });
    }
    if (isDetached(bytes.buffer)) {
      throw new TypeError(`${job.program}: the input's ArrayBuffer is detached`);
    }
    if (bytes.length <= kInline) {
      // A copy of its own: a Buffer's slice() would be a view of the caller's.
      const copy = Uint8Array.prototype.slice.call(bytes);
      return [{ bytes: copy }, [copy.buffer]];
    }
    if (!host.pulls) {
      const length = bytes.length;
      const blob = await blobOf(bytes);
      if (bytes.length !== length) throw changed(job.program, bytes);
      return [{ blob }, []];
    }
    return pulled(job, { bytes, file: null, blob: null, length: bytes.length });
  }

  /**
   * @param {Job} job
   * @param {Omit<Pull, 'shared'>} from
   * @returns {[object, ArrayBuffer[]]}
   */
  function pulled(job, from) {
    job.pull = { ...from, shared: new SharedArrayBuffer(8 + kPull) };
    return [{ pulled: { size: from.length, shared: job.pull.shared } }, []];
  }

  // A path or a FileHandle, where the host reads files.
  /** @param {any} input */
  function isFile(input) {
    if (host.openFile === undefined) return false;
    if (typeof input === 'string' || input instanceof URL) return true;
    return (
      typeof input?.fd === 'number' &&
      typeof input.read === 'function' &&
      typeof input.stat === 'function'
    );
  }

  /**
   * @param {AbortSignal} signal
   * @param {Job} job
   */
  function watch(signal, job) {
    let watcher = watchers.get(signal);
    if (watcher === undefined) {
      /** @type {Set<Job>} */
      const jobs = new Set();
      const onAbort = () => {
        watchers.delete(signal);
        const stopped = [...jobs];
        for (const each of stopped) {
          if (queue.includes(each)) queue.splice(queue.indexOf(each), 1);
        }
        if (running !== null && jobs.has(running)) {
          running = null;
          bridge.stop(abortError(signal));
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

  /**
   * @param {AbortSignal} signal
   * @param {Job} job
   */
  function unwatch(signal, job) {
    const watcher = watchers.get(signal);
    if (watcher === undefined) return;
    watcher.jobs.delete(job);
    if (watcher.jobs.size > 0) return;
    watchers.delete(signal);
    signal.removeEventListener('abort', watcher.onAbort);
  }

  /**
   * @param {'wav2ima' | 'ima2wav'} program
   * @param {any} input the caller's, checked here
   * @param {WavOptions | null} [options]
   * @returns {Promise<Uint8Array | Blob>}
   */
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
      /** @type {(then: (value: any) => void) => (value: any) => void} */
      const settled = (then) => (value) => {
        if (signal) unwatch(signal, job);
        if (job.closeFile) job.pull?.file?.close().catch(() => {});
        job.closeFile = false;
        then(value);
      };
      /** @type {Job} */
      const job = {
        program: level === undefined ? program : 'imaenc',
        options: level === undefined ? [] : [`-${level}`],
        output,
        onProgress,
        resolve: settled(resolve),
        reject: settled(reject),
        failure: null,
        input,
        pull: null,
        closeFile: false,
      };
      if (signal) watch(signal, job);
      queue.push(job);
      next();
    });
  }

  return {
    /** @type {(wav: any, options?: WavOptions | null) => Promise<Uint8Array | Blob>} */
    wav2ima: (wav, options) => convert('wav2ima', wav, options),
    /** @type {(stream: any, options?: WavOptions | null) => Promise<Uint8Array | Blob>} */
    ima2wav: (stream, options) => convert('ima2wav', stream, options),
    usePrograms,
  };
}
