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

function isDetached(buffer) {
  try {
    buffer.slice(0, 0);
    return false;
  } catch {
    return true;
  }
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

  function compile(source, name) {
    if (source instanceof WebAssembly.Module) return source;
    if (source instanceof ArrayBuffer || ArrayBuffer.isView(source)) {
      return WebAssembly.compile(/** @type {BufferSource} */ (source));
    }
    if (typeof Response !== 'undefined' && source instanceof Response) {
      if (!source.ok) throw new Error(`${name}: ${source.status} ${source.statusText}`);
      return source.arrayBuffer().then((bytes) => WebAssembly.compile(bytes));
    }
    if (source instanceof URL || typeof source === 'string') {
      return host.load(source).then((bytes) => WebAssembly.compile(bytes));
    }
    throw new TypeError(
      `usePrograms: ${name} must be a URL, a string, a Response, bytes or a WebAssembly.Module`,
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
    const end = position + Math.min(size, data.length);
    try {
      if (job.bytes !== null && job.bytes.length !== job.length) {
        throw new TypeError(
          `${job.program}: the input's ArrayBuffer was detached during the conversion`,
        );
      }
      const bytes =
        job.bytes !== null
          ? job.bytes.subarray(position, end)
          : new Uint8Array(await job.blob.slice(position, end).arrayBuffer());
      data.set(bytes);
      Atomics.store(control, 1, bytes.length);
    } catch (error) {
      job.failure ??= error;
      Atomics.store(control, 1, -1);
    }
    Atomics.store(control, 0, 1);
    Atomics.notify(control, 0);
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
  function transport(job, input) {
    const bytes = input instanceof Blob ? null : input;
    if (bytes !== null && bytes.length <= kInline) {
      // A copy of its own: a Buffer's slice() would be a view of the caller's.
      const copy = Uint8Array.prototype.slice.call(bytes);
      return [{ bytes: copy }, [copy.buffer]];
    }
    if (bytes === null && host.readsBlobs) return [{ blob: input }, []];
    if (bytes !== null && !host.pulls) return [{ blob: new Blob([bytes]) }, []];
    Object.assign(job, {
      bytes,
      blob: bytes === null ? input : null,
      length: input.size ?? bytes.length,
      shared: new SharedArrayBuffer(8 + kPull),
    });
    return [{ pulled: { size: job.length, shared: job.shared } }, []];
  }

  function convert(program, input, options = {}) {
    return new Promise((resolve, reject) => {
      const { signal, onProgress, output = 'bytes', level } = options;
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
      } else if (!(typeof Blob !== 'undefined' && input instanceof Blob)) {
        throw new TypeError(`${program}: the input must be a Uint8Array, an ArrayBuffer or a Blob`);
      }
      if (!kOutputs.includes(output))
        throw new TypeError(`${program}: output must be 'bytes' or 'blob'`);
      if (onProgress !== undefined && typeof onProgress !== 'function') {
        throw new TypeError(`${program}: onProgress must be a function`);
      }
      if (signal?.aborted) throw abortError(signal);
      const onAbort = () => {
        if (running === job) {
          stopWorker();
          next();
        } else if (queue.includes(job)) {
          queue.splice(queue.indexOf(job), 1);
        }
        reject(abortError(signal));
      };
      const settled = (then) => (value) => {
        signal?.removeEventListener('abort', onAbort);
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
      };
      [job.transport, job.transfer] = transport(job, input);
      job.settle = (message) => settle(job, message);
      signal?.addEventListener('abort', onAbort, { once: true });
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
