// What a run of a program is, to both workers that run them (the library's
// and the page's): the names it is given for its input and output (the
// files of the folder it runs in, never the user's names), the type of what
// it writes, and wavcheck's answer read as keys.
export const kFileNames = {
  wav2ima: ['in.wav', 'out.ima'],
  imaenc: ['in.wav', 'out.ima'],
  ima2wav: ['in.ima', 'out.wav'],
};

export const kOutputTypes = {
  wav2ima: 'application/octet-stream',
  imaenc: 'application/octet-stream',
  ima2wav: 'audio/wav',
};

// wavcheck's lines ("KEY VALUE") as keys and values; `why` gathers its
// reasons, in order.
/**
 * @param {string[]} lines
 * @returns {{why: string[], [key: string]: string | string[]}}
 */
export function readKeys(lines) {
  /** @type {{why: string[], [key: string]: string | string[]}} */
  const keys = { why: [] };
  for (const line of lines) {
    const space = line.indexOf(' ');
    const [key, value] = [line.slice(0, space), line.slice(space + 1)];
    if (key === 'why') keys.why.push(value);
    else keys[key] = value;
  }
  return keys;
}

/**
 * The thread that started a worker, as the worker talks to it.
 * @typedef {object} Port
 * @property {(message: object, transfer?: Transferable[]) => void} post
 * @property {(handler: (message: any) => void) => void} on
 */
/**
 * What a handler is given beside its message: its job, a way to report the
 * share done, and one to send a message of the job's own.
 * @typedef {object} Job
 * @property {number} job
 * @property {(share: number) => void} share
 * @property {(message: {type: string, [key: string]: unknown}) => void} post
 */
/** @typedef {(message: any, job: Job) => unknown} Handler */

// A worker's side of the protocol, the one both workers speak: every
// message names its type and its job. A handler's result is the job's
// answer, {type: 'done', job, ...answer} ([answer, transfer] hands buffers
// over), after any number of {type: 'share', job, share}; a handler that
// throws is answered {type: 'failed', job, message}. The types in
// `unanswered` get no answer. Handlers run as their messages come, so a
// job may wait on later messages of its own.
/**
 * @param {Port} port
 * @param {Record<string, Handler>} handlers
 * @param {Set<string>} [unanswered]
 */
export function serve(port, handlers, unanswered = new Set()) {
  port.on(async (message) => {
    const { type, job } = message;
    /** @type {Job} */
    const context = {
      job,
      share: (share) => port.post({ type: 'share', job, share }),
      post: (own) => port.post({ ...own, job }),
    };
    try {
      const result = await handlers[type](message, context);
      if (unanswered.has(type)) return;
      const [answer, transfer] = Array.isArray(result) ? result : [result, []];
      port.post({ type: 'done', job, ...answer }, transfer);
    } catch (error) {
      const why = error instanceof Error ? error.message : String(error);
      port.post({ type: 'failed', job, message: why });
    }
  });
}

// The worker's port: a browser Worker's own scope, or, in a node worker
// thread, the parent port from node's own modules.
/** @returns {Port} */
export function ownPort() {
  if (typeof WorkerGlobalScope !== 'undefined') {
    return {
      // A worker's postMessage, which the DOM's types give as the window's.
      post: (message, transfer = []) =>
        /** @type {any} */ (globalThis).postMessage(message, transfer),
      on: (handler) => {
        globalThis.onmessage = ({ data }) => handler(data);
      },
    };
  }
  const port = process.getBuiltinModule('node:worker_threads').parentPort;
  if (port === null) throw new Error('a worker runs in a worker thread');
  return {
    post: (message, transfer = []) =>
      port.postMessage(message, /** @type {ArrayBuffer[]} */ (transfer)),
    on: (handler) => port.on('message', handler),
  };
}
