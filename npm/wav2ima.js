// wav2ima and ima2wav in a browser, through any bundler: the programs are
// fetched from beside this module (or handed over by usePrograms), and run
// in a Worker made from the library's own script, which no bundler needs to
// know of.
import { library } from './library.js';
import workerSource from './worker-source.js';

// Each URL written out whole, so that a bundler sees the file it must ship.
const programs = {
  wav2ima: new URL('./wav2ima.wasm', import.meta.url),
  ima2wav: new URL('./ima2wav.wasm', import.meta.url),
  wavcheck: new URL('./wavcheck.wasm', import.meta.url),
  imaenc: new URL('./imaenc.wasm', import.meta.url),
};

/** @param {string | URL} url */
async function load(url) {
  const response = await fetch(url);
  if (!response.ok) throw new Error(`${url}: ${response.status} ${response.statusText}`);
  return response.arrayBuffer();
}

/** @returns {import('./library.js').WorkerLink} */
function startWorker() {
  const url = URL.createObjectURL(new Blob([workerSource], { type: 'text/javascript' }));
  const worker = new Worker(url);
  return {
    post: (message, transfer = []) => worker.postMessage(message, transfer),
    on: (handler) => {
      worker.onmessage = ({ data }) => handler(data);
    },
    onError: (handler) => {
      worker.onerror = (event) => {
        event.preventDefault();
        handler(new Error(event.message || 'its script failed to load'));
      };
    },
    stop: () => {
      worker.terminate();
      URL.revokeObjectURL(url);
    },
    hold: () => {},
  };
}

export { ConversionError } from './library.js';
export const { wav2ima, ima2wav, usePrograms } = library({
  programs,
  load,
  startWorker,
  // A page that is cross-origin isolated can share memory with its worker.
  pulls: globalThis.crossOriginIsolated === true,
  readsBlobs: true,
  inputs: 'a Uint8Array, an ArrayBuffer or a Blob',
});
