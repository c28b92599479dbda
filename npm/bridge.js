// The calling thread's side of a worker that runs jobs (jobs.js holds the
// worker's side): the one bridge the library and the page both go through.
// It starts the worker when a job needs one and hands it the compiled
// programs, numbers the jobs, and routes each answer to its caller: shares
// to onShare, any other message of the job's own to onMessage. Ending the
// worker is the only way to stop a program mid-run, so a job's aborted
// signal, or the worker's failure, ends it and fails every job open then;
// the next job starts a fresh worker.

// The programs could not be loaded; `cause` holds why.
export class NotLoaded extends Error {}
// The worker ended (it failed, or was stopped) before the job's answer.
export class Stopped extends Error {}
// The job failed in the worker: the program trapped, or its handler threw.
export class Failed extends Stopped {}

/**
 * A worker as the bridge drives it.
 * @typedef {object} WorkerLink
 * @property {(message: object, transfer?: ArrayBuffer[]) => void} post
 * @property {(handler: (message: any) => void) => void} on
 * @property {(handler: (error: Error) => void) => void} onError
 * @property {() => void} stop
 * @property {(busy: boolean) => void} hold keeps node running while busy
 */
/**
 * @typedef {object} JobOptions
 * @property {AbortSignal} [signal] aborting it ends the worker and the job
 * @property {(share: number) => void} [onShare]
 * @property {(message: {type: string, [key: string]: any}) => void} [onMessage]
 * @property {ArrayBuffer[]} [transfer]
 */
/**
 * @typedef {object} Waiting
 * @property {(answer: any) => void} resolve
 * @property {(error: unknown) => void} reject
 * @property {(share: number) => void} onShare
 * @property {(message: {type: string, [key: string]: any}) => void} onMessage
 */

export class Bridge {
  /** @type {() => WorkerLink} */
  #start;
  /** @type {() => Promise<Record<string, WebAssembly.Module>>} */
  #load;
  /** @type {(why: string, idle: boolean) => void} */
  #onStopped;
  /** @type {WorkerLink | null} */
  #worker = null;
  /** @type {Map<number, Waiting>} */
  #jobs = new Map();
  #next = 0;

  /**
   * @param {object} how
   * @param {() => WorkerLink} how.start starts a worker
   * @param {() => Promise<Record<string, WebAssembly.Module>>} how.load the compiled programs
   * @param {(why: string, idle: boolean) => void} [how.onStopped] told when the worker
   *   failed, and whether any job was open then
   */
  constructor({ start, load, onStopped = () => {} }) {
    this.#start = start;
    this.#load = load;
    this.#onStopped = onStopped;
  }

  // The worker, started with the programs where there is none.
  async ready() {
    let modules;
    try {
      modules = await this.#load();
    } catch (error) {
      throw new NotLoaded(error instanceof Error ? error.message : String(error), {
        cause: error,
      });
    }
    if (this.#worker !== null) return this.#worker;
    const worker = this.#start();
    worker.on((message) => this.#answer(message));
    worker.onError((error) => {
      const idle = this.#jobs.size === 0;
      this.stop(new Stopped(error.message));
      this.#onStopped(error.message, idle);
    });
    // Held only while a job is open, so that an idle worker keeps nothing
    // alive (after the listeners, which hold it).
    worker.hold(false);
    worker.post({ type: 'modules', modules });
    this.#worker = worker;
    return worker;
  }

  // Starts a job: {job, answer}, `answer` the promise of the worker's
  // answer, which rejects with Failed or Stopped, or the signal's reason.
  /**
   * @param {string} type
   * @param {object} message
   * @param {JobOptions} [options]
   * @returns {Promise<{job: number, answer: Promise<any>}>}
   */
  async open(type, message, { signal, onShare = () => {}, onMessage = () => {}, transfer } = {}) {
    signal?.throwIfAborted();
    const worker = await this.ready();
    signal?.throwIfAborted();
    const job = ++this.#next;
    const answer = new Promise((resolve, reject) => {
      const abort = () => this.stop(signal?.reason);
      signal?.addEventListener('abort', abort, { once: true });
      /** @type {(then: (value: any) => void) => (value: any) => void} */
      const settle = (then) => (value) => {
        signal?.removeEventListener('abort', abort);
        this.#jobs.delete(job);
        if (this.#jobs.size === 0) this.#worker?.hold(false);
        then(value);
      };
      this.#jobs.set(job, { resolve: settle(resolve), reject: settle(reject), onShare, onMessage });
    });
    worker.hold(true);
    worker.post({ type, job, ...message }, transfer);
    return { job, answer };
  }

  // One job, to its answer.
  /**
   * @param {string} type
   * @param {object} message
   * @param {JobOptions} [options]
   */
  async run(type, message, options) {
    return (await this.open(type, message, options)).answer;
  }

  // A message that belongs to a job already open; no answer of its own.
  /**
   * @param {string} type
   * @param {number} job
   * @param {object} message
   * @param {ArrayBuffer[]} [transfer]
   */
  post(type, job, message, transfer) {
    this.#worker?.post({ type, job, ...message }, transfer);
  }

  // Ends the worker; every open job fails with `reason`.
  /** @param {unknown} reason */
  stop(reason) {
    this.#worker?.stop();
    this.#worker = null;
    const open = [...this.#jobs.values()];
    this.#jobs.clear();
    for (const { reject } of open) reject(reason);
  }

  /** @param {{type: string, job: number, [key: string]: any}} message the worker's */
  #answer({ type, job, ...data }) {
    const waiting = this.#jobs.get(job);
    if (waiting === undefined) return;
    if (type === 'share') waiting.onShare(data.share);
    else if (type === 'done') waiting.resolve(data);
    else if (type === 'failed') waiting.reject(new Failed(data.message));
    else waiting.onMessage({ type, ...data });
  }
}
