// The worker that runs the programs for the page, and the jobs it is doing:
// the page's one way to its worker.
import { say } from './view.js';

// The programs come with the npm package the worker runs them through.
const kPrograms = {
  wav2ima: 'wav2ima/wav2ima.wasm',
  ima2wav: 'wav2ima/ima2wav.wasm',
  imaenc: 'wav2ima/imaenc.wasm',
  wavcheck: 'wavcheck.wasm',
};

// Why a job did not give its answer.
export class Cancelled extends Error {}
export class NotLoaded extends Error {}
export class Stopped extends Error {}

// The worker and the jobs it is doing. A job is one message out and one
// answer back; aborting its signal ends the worker, the only way to stop a
// program mid-run, and the next job starts a fresh one with the programs,
// which are fetched and compiled once.
/**
 * How a job's caller waits: its answer, and the shares done before it.
 * @typedef {object} Waiting
 * @property {(answer: any) => void} resolve
 * @property {(error: unknown) => void} reject
 * @property {(share: number) => void} onShare
 */
/**
 * @typedef {object} JobOptions
 * @property {AbortSignal} signal
 * @property {(share: number) => void} [onShare]
 * @property {Transferable[]} [transfer]
 */
class Converter {
  /** @type {Promise<Record<string, WebAssembly.Module>> | null} */
  #programs = null;
  /** @type {Worker | null} */
  #worker = null;
  /** @type {Map<number, Waiting>} */
  #jobs = new Map();
  #next = 0;

  // Fetches the programs and starts the worker, so that the first file
  // waits for neither.
  start() {
    return this.#ready();
  }

  load() {
    if (this.#programs !== null) return this.#programs;
    const programs = Promise.all(
      Object.entries(kPrograms).map(async ([name, url]) => {
        const response = await fetch(url);
        if (!response.ok) throw new Error(`${url}: ${response.status} ${response.statusText}`);
        return [name, await WebAssembly.compile(await response.arrayBuffer())];
      }),
    ).then(Object.fromEntries);
    // A load that failed is tried again with the next job.
    programs.catch(() => {
      this.#programs = null;
    });
    this.#programs = programs;
    return programs;
  }

  async #ready() {
    let modules;
    try {
      modules = await this.load();
    } catch (error) {
      throw new NotLoaded(error instanceof Error ? error.message : String(error));
    }
    if (this.#worker !== null) return this.#worker;
    const worker = new Worker('worker.js', { type: 'module' });
    worker.onmessage = ({ data }) => this.#answer(data);
    /** @param {Event} event */
    const stopped = (event) => {
      event.preventDefault();
      const why = (event instanceof ErrorEvent && event.message) || 'its script failed to load';
      if (this.#jobs.size === 0)
        say(`The converter stopped (${why}). It starts afresh with the next file.`);
      this.stop(new Stopped(why));
    };
    worker.onerror = stopped;
    worker.onmessageerror = stopped;
    worker.postMessage({ type: 'modules', modules });
    this.#worker = worker;
    return worker;
  }

  // Starts a job; resolves to {job, answer}, `answer` the promise of the
  // worker's answer. `onShare` sees the share done as it goes.
  /**
   * @param {string} type
   * @param {object} message
   * @param {JobOptions} options
   * @returns {Promise<{job: number, answer: Promise<any>}>}
   */
  async open(type, message, { signal, onShare = () => {}, transfer = [] }) {
    signal.throwIfAborted();
    const worker = await this.#ready();
    signal.throwIfAborted();
    const job = ++this.#next;
    const answer = new Promise((resolve, reject) => {
      const abort = () => this.stop(signal.reason);
      signal.addEventListener('abort', abort, { once: true });
      /** @type {(then: (value: any) => void) => (value: any) => void} */
      const settle = (then) => (value) => {
        signal.removeEventListener('abort', abort);
        then(value);
      };
      this.#jobs.set(job, { resolve: settle(resolve), reject: settle(reject), onShare });
    });
    worker.postMessage({ type, job, ...message }, transfer);
    return { job, answer };
  }

  // One job, to its answer.
  /**
   * @param {string} type
   * @param {object} message
   * @param {JobOptions} options
   */
  async run(type, message, options) {
    return (await this.open(type, message, options)).answer;
  }

  // A message that belongs to a job already open; no answer of its own.
  /**
   * @param {string} type
   * @param {number} job
   * @param {object} message
   * @param {Transferable[]} [transfer]
   */
  post(type, job, message, transfer = []) {
    this.#worker?.postMessage({ type, job, ...message }, transfer);
  }

  /** @param {unknown} reason */
  stop(reason) {
    this.#worker?.terminate();
    this.#worker = null;
    for (const { reject } of this.#jobs.values()) reject(reason);
    this.#jobs.clear();
  }

  /** @param {{type: string, job: number, [key: string]: any}} message the worker's */
  #answer({ type, job, ...data }) {
    const waiting = this.#jobs.get(job);
    if (waiting === undefined) return;
    if (type === 'share') {
      waiting.onShare(data.share);
      return;
    }
    this.#jobs.delete(job);
    if (type === 'done') waiting.resolve(data);
    else waiting.reject(new Stopped(data.message));
  }
}

export const converter = new Converter();

// What went wrong with a step, in a sentence; `what` names the step.
/**
 * @param {unknown} error
 * @param {string} what
 */
export function problem(error, what) {
  if (error instanceof Cancelled) return `${what} cancelled.`;
  if (error instanceof NotLoaded) {
    return `The converter could not be loaded (${error.message}). Choose the file again to retry.`;
  }
  const why = error instanceof Error ? error.message : String(error);
  return (
    `The converter stopped during ${what.toLowerCase()} (${why}). It starts ` +
    'afresh with the next file.'
  );
}

// A step of the page outside the worker (the browser decoding) that Cancel
// ends at once for the page, whatever the browser still does with it.
/**
 * @template T
 * @param {Promise<T>} promise
 * @param {AbortSignal} signal
 * @returns {Promise<T>}
 */
export function abortable(promise, signal) {
  return new Promise((resolve, reject) => {
    signal.addEventListener('abort', () => reject(signal.reason), { once: true });
    promise.then(resolve, reject);
  });
}
