// The worker that runs the programs for the page, through the package's
// bridge, and the page's words for what went wrong.

import { say } from './view.js';
import { Bridge, NotLoaded } from './wav2ima/bridge.js';

// The programs come with the npm package the worker runs them through.
const kPrograms = {
  wav2ima: 'wav2ima/wav2ima.wasm',
  ima2wav: 'wav2ima/ima2wav.wasm',
  imaenc: 'wav2ima/imaenc.wasm',
  wavcheck: 'wavcheck.wasm',
};

// Why a job did not give its answer where the page's Cancel ended it.
export class Cancelled extends Error {}

/** @returns {Promise<Record<string, WebAssembly.Module>>} */
function loadPrograms() {
  return Promise.all(
    Object.entries(kPrograms).map(async ([name, url]) => {
      const response = await fetch(url);
      if (!response.ok) throw new Error(`${url}: ${response.status} ${response.statusText}`);
      return [name, await WebAssembly.compile(await response.arrayBuffer())];
    }),
  ).then(Object.fromEntries);
}

/** @type {Promise<Record<string, WebAssembly.Module>> | null} */
let programs = null;

// The worker, as the bridge drives it.
/** @returns {import('./wav2ima/bridge.js').WorkerLink} */
function startWorker() {
  const worker = new Worker('worker.js', { type: 'module' });
  return {
    post: (message, transfer = []) => worker.postMessage(message, transfer),
    on: (handler) => {
      worker.onmessage = ({ data }) => handler(data);
    },
    onError: (handler) => {
      /** @param {Event} event */
      const stopped = (event) => {
        event.preventDefault();
        const why = (event instanceof ErrorEvent && event.message) || 'its script failed to load';
        handler(new Error(why));
      };
      worker.onerror = stopped;
      worker.onmessageerror = stopped;
    },
    stop: () => worker.terminate(),
    hold: () => {},
  };
}

// The page's one way to its worker. The programs are fetched and compiled
// once; a load that failed is tried again with the next job.
export const converter = new Bridge({
  start: startWorker,
  load: () => {
    programs ??= loadPrograms();
    programs.catch(() => {
      programs = null;
    });
    return programs;
  },
  onStopped: (why, idle) => {
    if (idle) say(`The converter stopped (${why}). It starts afresh with the next file.`);
  },
});

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
