// The page's face: it queues the chosen and dropped files, hands each to the
// worker, which runs the programs, and shows what they say and make. Nothing
// is uploaded: a file goes from the disk to the worker and comes back as a
// download. The worker makes every Blob; this thread moves only messages and
// finished Blobs, so no task here runs long.
import { Refusal, decode, mayBeAudio, sendSlices } from './prepare.js';

const $ = (id) => document.getElementById(id);
const [chooser, drop, progress, cancel, notice, messages, results, downloadAll, player] = [
  'wav-file', 'drop', 'progress', 'cancel', 'notice', 'messages', 'results', 'download-all',
  'player',
].map($);

// The two programs come with the npm package the worker runs them through.
const kPrograms = {
  wav2ima: 'wav2ima/wav2ima.wasm',
  ima2wav: 'wav2ima/ima2wav.wasm',
  wavcheck: 'wavcheck.wasm',
};
const kFramesPerSecond = 44100;

const say = (text) => {
  notice.textContent = text;
};

// The programs, fetched and compiled once and handed to every worker, so a
// fresh worker fetches no program again. A load that failed is tried again
// with the next file.
let programs = null;
function loadPrograms() {
  programs ??= Promise.all(Object.entries(kPrograms).map(async ([name, url]) => {
    const response = await fetch(url);
    if (!response.ok) throw new Error(`${url}: ${response.status} ${response.statusText}`);
    return [name, await WebAssembly.compile(await response.arrayBuffer())];
  })).then(Object.fromEntries);
  programs.catch(() => {
    programs = null;
  });
  return programs;
}

class Cancelled extends Error {}
class NotLoaded extends Error {}

let worker = null;
let pending = null; // {resolve, reject} of the job the worker is doing

function endWorker() {
  worker?.terminate();
  worker = null;
}

// A worker with the programs, ready before the first file: its scripts load
// with the page. A worker that stops (its script failed, or it died) is
// ended; its job, if any, fails, and the next job starts a fresh one.
async function startWorker() {
  const modules = await loadPrograms();
  if (worker !== null) return;
  worker = new Worker('worker.js', { type: 'module' });
  worker.onmessage = ({ data }) => {
    if (data.share !== undefined) {
      progress.value = data.share;
      return;
    }
    const asked = pending;
    pending = null;
    progress.value = 1;
    if (data.error !== undefined) asked?.reject(new Error(data.error));
    else asked?.resolve(data);
  };
  worker.onerror = worker.onmessageerror = (event) => {
    event.preventDefault?.();
    endWorker();
    const why = event.message || 'its script failed to load';
    if (pending !== null) pending.reject(new Error(why));
    else say(`The converter stopped (${why}). It starts afresh with the next file.`);
    pending = null;
  };
  worker.postMessage({ modules });
}

let cancels = 0; // times Cancel was pressed: a task that began before stops
let onCancel = null; // rejects the step outside the worker a task waits for

// A step outside the worker (the browser decoding a file) that Cancel ends
// at once for the page, whatever the browser still does with it.
function cancellable(promise) {
  return new Promise((resolve, reject) => {
    onCancel = () => reject(new Cancelled());
    promise.then(resolve, reject);
  });
}

// One job for the worker; resolves to its answer.
async function job(message) {
  try {
    await startWorker();
  } catch (error) {
    throw new NotLoaded(error.message);
  }
  progress.value = 0;
  return new Promise((resolve, reject) => {
    pending = { resolve, reject };
    worker.postMessage(message);
  });
}

// Jobs run one after another; files dropped during a run wait their turn.
const tasks = [];
let running = false;
let batch = null; // what this run of the queue has made and said

function setBusy(busy) {
  cancel.disabled = !busy;
  results.setAttribute('aria-busy', String(busy));
}

function schedule(task) {
  tasks.push(task);
  if (!running) drain();
}

async function drain() {
  running = true;
  setBusy(true);
  while (tasks.length > 0) await tasks.shift()();
  running = false;
  setBusy(false);
  // The same file chosen again is a new choice.
  chooser.value = '';
  if (batch.streams.length >= 2 && batch.zipped !== batch.streams.length) {
    schedule(zipTask(batch));
    return;
  }
  say(batch.problems.length > 0 ? batch.problems.join(' ') : summary(batch));
}

function summary({ streams, refused }) {
  const made = `${streams.length} ${streams.length === 1 ? 'stream' : 'streams'} made`;
  return refused > 0 ? `Done: ${made}, ${refused} refused by wav2ima.` : `Done: ${made}.`;
}

function startBatch() {
  for (const item of results.querySelectorAll('a[href^="blob:"]')) URL.revokeObjectURL(item.href);
  if (downloadAll.href) URL.revokeObjectURL(downloadAll.href);
  downloadAll.removeAttribute('href');
  downloadAll.hidden = true;
  results.replaceChildren();
  messages.textContent = '';
  batch = { streams: [], names: new Set(), refused: 0, problems: [], zipped: 0 };
}

// Streams are named after their inputs, distinct within a batch.
function streamName(inputName) {
  const base = inputName.replace(/\.[^.]*$/, '');
  let name = `${base}.ima`;
  for (let n = 2; batch.names.has(name); n++) name = `${base}-${n}.ima`;
  batch.names.add(name);
  return name;
}

function transcript(command, { lines, status }) {
  messages.textContent += `$ ${command}\n${lines.map((line) => `${line}\n`).join('')}`;
  messages.textContent += `exit status ${status}\n`;
}

function duration(bytes) {
  const seconds = bytes / kFramesPerSecond;
  const minutes = Math.floor(seconds / 60);
  return `${minutes}:${(seconds - minutes * 60).toFixed(1).padStart(4, '0')}`;
}

// What went wrong with a job, in a sentence for the notice.
function problem(error, name) {
  if (error instanceof Cancelled) return `Conversion of ${name} cancelled: nothing was made of it.`;
  if (error instanceof NotLoaded) {
    return `The converter could not be loaded (${error.message}). Choose the file again to retry.`;
  }
  return `The converter stopped while working on ${name} (${error.message}). It starts afresh with the next file.`;
}

function convertTask(file, item) {
  return async () => {
    item.file = file;
    item.stream ??= streamName(file.name);
    const waiting = tasks.length > 0 ? `; ${tasks.length} more waiting` : '';
    say(`Converting ${file.name}${waiting}…`);
    await runWav2ima(item, file, file.name);
  };
}

// Runs wav2ima on `input` (the chosen file, or the WAV prepared from it)
// and shows in `item` what it made, or why not.
async function runWav2ima(item, input, inputName) {
  item.state.textContent = 'converting…';
  let answer;
  try {
    answer = await job({ program: 'wav2ima', input, inputName, outputName: item.stream,
      explain: true });
  } catch (error) {
    item.state.textContent = error instanceof Cancelled ? 'cancelled' : 'not converted';
    batch.problems.push(problem(error, inputName));
    say(batch.problems.at(-1));
    return;
  }
  transcript(`wav2ima ${inputName} ${item.stream}`, answer);
  if (answer.unreadable) {
    item.state.textContent = 'could not be read';
    messages.textContent += `(${answer.unreadable})\n`;
    batch.problems.push(`${inputName} could not be read: it is a folder, or it changed or ` +
      'vanished since it was chosen. Choose it again.');
  } else if (answer.status === 0) {
    offer(item, item.stream, answer.output);
  } else {
    batch.refused += 1;
    // wavcheck's words: what a WAV file is, then why wav2ima refused it.
    const why = answer.why ?? [];
    const [what, ...reasons] = why[0] === 'not a RIFF/WAVE file' ? [null, ...why] : why;
    item.what ??= what;
    item.state.textContent = `${answer.lines.at(-1) ?? 'failed'}${what ? ` (${what})` : ''}` +
      `${reasons.length > 0 ? `: ${reasons.join('; ')}` : ''}`;
    if (input === item.file && mayBeAudio(item.file, why)) offerToPrepare(item);
  }
}

// The user's choice, never made for them: the browser decodes the file and
// resamples it, and wav2ima converts the result.
function offerToPrepare(item) {
  $('prepare')?.removeAttribute('id');
  const button = document.createElement('button');
  button.type = 'button';
  button.id = 'prepare';
  button.textContent = 'Resample to 44.1 kHz stereo and convert';
  button.addEventListener('click', () => {
    button.remove();
    batch.refused -= 1;
    schedule(prepareTask(item));
  });
  item.state.append(' ', button);
}

function prepareTask(item) {
  return async () => {
    const { file } = item;
    const started = cancels;
    say(`Preparing ${file.name}: the browser decodes and resamples it…`);
    item.state.textContent = 'preparing…';
    progress.value = 0;
    let wav;
    let decoded;
    try {
      const read = async (whole) => (await job({ read: whole })).bytes;
      decoded = await cancellable(decode(file, read, Number(/([\d.]+) s$/.exec(item.what)?.[1] ?? 0)));
      await startWorker().catch((error) => {
        throw new NotLoaded(error.message);
      });
      await sendSlices(decoded.buffer, (left, right, share) => {
        progress.value = share;
        worker.postMessage({ samples: { left, right } }, [left.buffer, right.buffer]);
      }, () => started === cancels && worker !== null);
      ({ wav } = await job({ finishWav: true }));
    } catch (error) {
      item.state.textContent = error instanceof Cancelled ? 'cancelled' : 'not prepared';
      batch.problems.push(error instanceof Refusal ? error.message : problem(error, file.name));
      say(batch.problems.at(-1));
      return;
    }
    const inputName = `${file.name.replace(/\.[^.]*$/, '')}-prepared.wav`;
    // What the file was: what a WAV says of itself, or the type, channels
    // and length of decoded audio (browsers do not tell the rate of
    // compressed audio).
    const was = item.what ?? [file.type || 'type unknown', decoded.channels === 1 ? '1 channel' :
      `${decoded.channels} channels`, `${decoded.seconds.toFixed(1)} s`].join(', ');
    messages.textContent += `prepared ${inputName} from ${file.name} (${was}): resampled to ` +
      '44100 Hz by the browser, stereo, 16-bit\n';
    await runWav2ima(item, wav, inputName);
  };
}

function offer(item, name, blob) {
  batch.streams.push({ name, blob });
  $('download')?.removeAttribute('id');
  $('listen')?.removeAttribute('id');
  const link = document.createElement('a');
  link.id = 'download';
  link.href = URL.createObjectURL(blob);
  link.download = name;
  link.textContent = name;
  const listen = document.createElement('button');
  listen.type = 'button';
  listen.id = 'listen';
  listen.textContent = 'Listen';
  listen.addEventListener('click', () => listenTo(name, blob));
  item.state.replaceChildren(link,
    ` ${duration(blob.size)}, ${blob.size.toLocaleString('en')} bytes `, listen);
}

let heard = null; // the object URL of the WAV the player holds

function listenTo(name, blob) {
  if (blob.size === 0) {
    say(`${name} is empty: there is nothing to play.`);
    return;
  }
  schedule(async () => {
    const decoded = `${name.replace(/\.ima$/, '')}-decoded.wav`;
    say(`Decoding ${name} with ima2wav…`);
    let answer;
    try {
      answer = await job({ program: 'ima2wav', input: blob, inputName: name, outputName: decoded });
    } catch (error) {
      batch.problems.push(problem(error, name));
      say(batch.problems.at(-1));
      return;
    }
    transcript(`ima2wav ${name} ${decoded}`, answer);
    if (answer.status !== 0) return;
    if (heard !== null) URL.revokeObjectURL(heard);
    heard = URL.createObjectURL(answer.output);
    player.src = heard;
    player.play().catch(() => {}); // a browser may hold sound back until asked again
  });
}

function zipTask(forBatch) {
  return async () => {
    const streams = forBatch.streams.slice();
    say(`Making one zip of ${streams.length} streams…`);
    try {
      const { zip } = await job({ zip: streams });
      if (forBatch !== batch) return;
      if (downloadAll.href) URL.revokeObjectURL(downloadAll.href);
      downloadAll.href = URL.createObjectURL(zip);
      downloadAll.textContent = `Download all ${streams.length} streams as one zip`;
      downloadAll.hidden = false;
      forBatch.zipped = streams.length;
    } catch (error) {
      forBatch.problems.push(problem(error, 'the zip'));
      forBatch.zipped = streams.length;
    }
  };
}

function add(files) {
  if (files.length === 0) return;
  const queued = running;
  if (!queued) startBatch();
  for (const file of files) {
    const item = document.createElement('li');
    const state = document.createElement('span');
    state.textContent = 'waiting';
    item.append(`${file.name}: `, state);
    results.append(item);
    const task = convertTask(file, { state });
    task.state = state;
    schedule(task);
  }
  if (queued) say(`Added ${files.length} to the queue: ${tasks.length} waiting.`);
}

cancel.addEventListener('click', () => {
  for (const task of tasks) if (task.state) task.state.textContent = 'cancelled';
  tasks.length = 0;
  cancels += 1;
  endWorker();
  pending?.reject(new Cancelled());
  pending = null;
  onCancel?.();
  onCancel = null;
  startWorker().catch(() => {});
});

chooser.addEventListener('change', () => add([...chooser.files]));

// A dropped folder gives its WAV files, at any depth, where the browser
// lets the page walk it; anything else dropped is handed to wav2ima as is.
async function filesOf(entry, found) {
  if (entry.isFile) {
    found.push(await new Promise((resolve, reject) => entry.file(resolve, reject)));
    return;
  }
  const reader = entry.createReader();
  for (let batchOfEntries; (batchOfEntries = await new Promise((resolve, reject) =>
    reader.readEntries(resolve, reject))).length > 0;) {
    batchOfEntries.sort((a, b) => a.name.localeCompare(b.name));
    for (const child of batchOfEntries) {
      if (child.isDirectory || /\.wav$/i.test(child.name)) await filesOf(child, found);
    }
  }
}

drop.addEventListener('dragover', (event) => {
  event.preventDefault();
  drop.classList.add('over');
});
drop.addEventListener('dragleave', () => drop.classList.remove('over'));
drop.addEventListener('drop', async (event) => {
  event.preventDefault();
  drop.classList.remove('over');
  // Entries are there only while the event is handled.
  const entries = [...event.dataTransfer.items].map((item) => item.webkitGetAsEntry?.() ?? null);
  const plain = [...event.dataTransfer.files];
  if (entries.some((entry) => entry === null)) {
    add(plain);
    return;
  }
  const found = [];
  try {
    for (const entry of entries) await filesOf(entry, found);
  } catch (error) {
    say(`The dropped folder could not be read (${error.message}).`);
    return;
  }
  if (found.length === 0) say('No WAV files in what was dropped.');
  add(found);
});

say('Loading the converter…');
startWorker().then(
  () => say('Ready: choose or drop WAV files. They never leave this computer.'),
  (error) => say(`The converter could not be loaded (${error.message}). Reload the page, or ` +
    'choose a file to try again.'));
