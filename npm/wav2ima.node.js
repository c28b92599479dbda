// wav2ima and ima2wav under node: the programs are read from beside this
// module, and run in a worker thread.
import { open, readFile } from 'node:fs/promises';
import { Worker } from 'node:worker_threads';
import { library } from './library.js';
import workerSource from './worker-source.js';

const beside = (/** @type {string} */ name) => new URL(`./${name}.wasm`, import.meta.url);

/** @param {string | URL} source */
function load(source) {
  if (typeof source === 'string' && /^https?:/.test(source)) source = new URL(source);
  if (source instanceof URL && source.protocol !== 'file:') {
    return fetch(source).then((response) => {
      if (!response.ok) throw new Error(`${source}: ${response.status} ${response.statusText}`);
      return response.arrayBuffer();
    });
  }
  return readFile(source);
}

// A file the library reads itself, by this thread: node's openAsBlob gives a
// file past 4 GiB a size modulo 2^32, and would lose the rest of it.
/**
 * @param {string | URL | import('node:fs/promises').FileHandle} input
 * @returns {Promise<import('./library.js').OpenedFile>}
 */
async function openFile(input) {
  const opened = typeof input === 'string' || input instanceof URL;
  const handle = opened ? await open(input, 'r') : input;
  try {
    const { size } = await handle.stat();
    return {
      size,
      read: async (bytes, position) =>
        (await handle.read(bytes, 0, bytes.length, position)).bytesRead,
      close: () => handle.close(),
    };
  } catch (error) {
    if (opened) await handle.close();
    throw error;
  }
}

/** @returns {import('./library.js').WorkerLink} */
function startWorker() {
  const worker = new Worker(workerSource, { eval: true });
  return {
    post: (message, transfer = []) => worker.postMessage(message, transfer),
    on: (handler) => worker.on('message', handler),
    onError: (handler) => worker.on('error', handler),
    stop: () => worker.terminate(),
    // An idle worker does not keep node running.
    hold: (busy) => (busy ? worker.ref() : worker.unref()),
  };
}

export { ConversionError } from './library.js';
export const { wav2ima, ima2wav, usePrograms } = library({
  programs: {
    wav2ima: beside('wav2ima'),
    ima2wav: beside('ima2wav'),
    wavcheck: beside('wavcheck'),
    imaenc: beside('imaenc'),
  },
  load,
  startWorker,
  pulls: true,
  readsBlobs: false,
  openFile,
  inputs: 'a Uint8Array, an ArrayBuffer, a Blob, a file path or URL, or a FileHandle',
});
