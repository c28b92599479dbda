// The page's face: it queues the chosen and dropped files, hands each to the
// worker, which runs the programs, and shows what they say and make. Nothing
// is uploaded: a file goes from the disk to the worker and comes back as a
// download. The worker makes every Blob; this thread moves only messages and
// finished Blobs, so no task here runs long.
import { baseName, madeName, NameSet } from './names.js';
import {
  decode,
  describe,
  gainFor,
  overBudget,
  Refusal,
  sendSlices,
  Unreadable,
} from './prepare.js';

const $ = (id) => document.getElementById(id);
const [
  chooser,
  folderChooser,
  chooseFolder,
  drop,
  progress,
  cancel,
  notice,
  messages,
  results,
  downloadAll,
  player,
  levelChoice,
] = [
  'wav-file',
  'wav-folder',
  'choose-folder',
  'drop',
  'progress',
  'cancel',
  'notice',
  'messages',
  'results',
  'download-all',
  'player',
  'level',
].map($);

// The programs come with the npm package the worker runs them through.
const kPrograms = {
  wav2ima: 'wav2ima/wav2ima.wasm',
  ima2wav: 'wav2ima/ima2wav.wasm',
  imaenc: 'wav2ima/imaenc.wasm',
  wavcheck: 'wavcheck.wasm',
};
const kBytesPerTenth = 4410; // stream bytes (frames) in a tenth of a second
// Files the system or the name calls audio or video: worth decoding.
const kAudioNames = /\.(wav|wave|mp3|ogg|oga|opus|flac|m4a|aac|mp4|webm|aif|aiff|caf)$/i;

const say = (text) => {
  notice.textContent = text;
};

// Why a job did not give its answer.
class Cancelled extends Error {}
class NotLoaded extends Error {}
class Stopped extends Error {}

// The worker and the jobs it is doing. A job is one message out and one
// answer back; aborting its signal ends the worker, the only way to stop a
// program mid-run, and the next job starts a fresh one with the programs,
// which are fetched and compiled once.
class Converter {
  #programs = null;
  #worker = null;
  #jobs = new Map();
  #next = 0;

  // Fetches the programs and starts the worker, so that the first file
  // waits for neither.
  start() {
    return this.#ready();
  }

  load() {
    this.#programs ??= Promise.all(
      Object.entries(kPrograms).map(async ([name, url]) => {
        const response = await fetch(url);
        if (!response.ok) throw new Error(`${url}: ${response.status} ${response.statusText}`);
        return [name, await WebAssembly.compile(await response.arrayBuffer())];
      }),
    ).then(Object.fromEntries);
    // A load that failed is tried again with the next job.
    this.#programs.catch(() => {
      this.#programs = null;
    });
    return this.#programs;
  }

  async #ready() {
    let modules;
    try {
      modules = await this.load();
    } catch (error) {
      throw new NotLoaded(error.message);
    }
    if (this.#worker !== null) return;
    this.#worker = new Worker('worker.js', { type: 'module' });
    this.#worker.onmessage = ({ data }) => this.#answer(data);
    this.#worker.onerror = this.#worker.onmessageerror = (event) => {
      event.preventDefault?.();
      const why = event.message || 'its script failed to load';
      if (this.#jobs.size === 0)
        say(`The converter stopped (${why}). It starts afresh with the next file.`);
      this.stop(new Stopped(why));
    };
    this.#worker.postMessage({ type: 'modules', modules });
  }

  // Starts a job; resolves to {job, answer}, `answer` the promise of the
  // worker's answer. `onShare` sees the share done as it goes.
  async open(type, message, { signal, onShare = () => {}, transfer = [] }) {
    signal.throwIfAborted();
    await this.#ready();
    signal.throwIfAborted();
    const job = ++this.#next;
    const answer = new Promise((resolve, reject) => {
      const abort = () => this.stop(signal.reason);
      signal.addEventListener('abort', abort, { once: true });
      const settle = (then) => (value) => {
        signal.removeEventListener('abort', abort);
        then(value);
      };
      this.#jobs.set(job, { resolve: settle(resolve), reject: settle(reject), onShare });
    });
    this.#worker.postMessage({ type, job, ...message }, transfer);
    return { job, answer };
  }

  // One job, to its answer.
  async run(type, message, options) {
    return (await this.open(type, message, options)).answer;
  }

  // A message that belongs to a job already open; no answer of its own.
  post(type, job, message, transfer = []) {
    this.#worker?.postMessage({ type, job, ...message }, transfer);
  }

  stop(reason) {
    this.#worker?.terminate();
    this.#worker = null;
    for (const { reject } of this.#jobs.values()) reject(reason);
    this.#jobs.clear();
  }

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

const converter = new Converter();

// Tasks run one after another, each under an AbortController that Cancel
// aborts; files dropped during a run wait their turn. A task of a row
// (converting or preparing a file) belongs to the batch, whose summary is
// said once the queue has run dry.
const queue = { tasks: [], current: null, rows: [], cancelled: false };

function schedule(task) {
  queue.tasks.push(task);
  if (queue.current === null) drain();
}

async function drain() {
  cancel.disabled = false;
  results.setAttribute('aria-busy', 'true');
  while (queue.tasks.length > 0) {
    const task = queue.tasks.shift();
    queue.current = { task, controller: new AbortController() };
    if (task.row) queue.rows.push(task.row);
    progress.value = 0;
    await task.run(queue.current.controller.signal);
  }
  queue.current = null;
  cancel.disabled = true;
  results.setAttribute('aria-busy', 'false');
  if (queue.rows.length > 0) finishBatch();
}

// Says the summary and moves the focus to the first row that was worked
// on, or back to the chooser after a cancel.
function finishBatch() {
  // The same file chosen again is a new choice.
  chooser.value = '';
  folderChooser.value = '';
  say(summary());
  if (queue.cancelled) chooser.focus();
  else queue.rows[0].li.focus();
  queue.rows = [];
  queue.cancelled = false;
}

// The files chosen or dropped while the queue was idle, and what became of
// them: the summary at the end, the problems beside it, the names given out.
let batch = null;

function startBatch() {
  for (const link of document.querySelectorAll('a[href^="blob:"]')) URL.revokeObjectURL(link.href);
  downloadAll.hidden = true;
  downloadAll.href = '#';
  results.replaceChildren();
  messages.textContent = '';
  batch = {
    rows: [],
    made: 0,
    refused: 0,
    unreadable: 0,
    cancelled: 0,
    problems: [],
    downloads: new NameSet(),
    entries: new NameSet(),
    zip: null,
  };
}

function summary() {
  const { made, refused, unreadable, cancelled, problems } = batch;
  const parts = [`${made} ${made === 1 ? 'stream' : 'streams'} made`];
  if (refused > 0) parts.push(`${refused} refused by wav2ima`);
  if (unreadable > 0) parts.push(`${unreadable} could not be read`);
  if (cancelled > 0) parts.push(`${cancelled} cancelled`);
  return [`Done: ${parts.join(', ')}.`, ...problems].join(' ');
}

function transcript(command, { lines, status }) {
  messages.textContent += `$ ${command}\n${lines.map((line) => `${line}\n`).join('')}`;
  messages.textContent += `exit status ${status}\n`;
}

// A stream's length as people read it: minutes and seconds to a tenth.
function duration(bytes) {
  const tenths = Math.round(bytes / kBytesPerTenth);
  const seconds = (tenths % 600) / 10;
  return `${Math.floor(tenths / 600)}:${seconds.toFixed(1).padStart(4, '0')}`;
}

// What went wrong with a step, in a sentence; `what` names the step.
function problem(error, what) {
  if (error instanceof Cancelled) return `${what} cancelled.`;
  if (error instanceof NotLoaded) {
    return `The converter could not be loaded (${error.message}). Choose the file again to retry.`;
  }
  return (
    `The converter stopped during ${what.toLowerCase()} (${error.message}). It starts ` +
    'afresh with the next file.'
  );
}

function button(text, label, onClick) {
  const element = document.createElement('button');
  element.type = 'button';
  element.textContent = text;
  element.setAttribute('aria-label', label);
  element.addEventListener('click', onClick);
  return element;
}

// A row of the list: the file (its path in a dropped folder) and its state.
function addRow(file, path) {
  const li = document.createElement('li');
  li.tabIndex = -1;
  const state = document.createElement('span');
  state.textContent = 'waiting';
  li.append(`${path}: `, state);
  results.append(li);
  // The size read now fixes the file as it was chosen: chromium then fails
  // a read of it once it changed or vanished, where it would read what is
  // there by then.
  const row = {
    li,
    state,
    file,
    path,
    size: file.size,
    stream: batch.downloads.claim(madeName(file.name, '.ima')),
    entry: batch.entries.claim(madeName(path, '.ima')),
    keys: null,
  };
  batch.rows.push(row);
  return row;
}

function convertTask(row, position) {
  return {
    row,
    run: async (signal) => {
      say(`Converting ${row.path}${position}…`);
      await runWav2ima(row, row.file, row.path, signal);
    },
  };
}

// The program and options of the level chosen: wav2ima, or imaenc at a level.
function chosenProgram() {
  const level = /** @type {HTMLSelectElement} */ (levelChoice).value;
  return level === 'rule'
    ? { program: 'wav2ima', options: [] }
    : { program: 'imaenc', options: [`-${level}`] };
}

// Runs wav2ima (or imaenc, at the level chosen) on `input` (the chosen
// file, or the WAV prepared from it, shown as `shown`) and shows in the row
// what it made, or why not.
async function runWav2ima(row, input, shown, signal) {
  row.state.textContent = 'converting…';
  const { program, options } = chosenProgram();
  let answer;
  try {
    answer = await converter.run(
      'convert',
      { program, options, input, shown: [shown, row.stream], explain: input === row.file },
      {
        signal,
        onShare: (share) => {
          progress.value = share;
        },
      },
    );
  } catch (error) {
    row.state.textContent = error instanceof Cancelled ? 'cancelled' : 'not converted';
    if (error instanceof Cancelled) batch.cancelled += 1;
    batch.problems.push(problem(error, `Conversion of ${shown}`));
    return;
  }
  transcript([program, ...options, shown, row.stream].join(' '), answer);
  if (answer.unreadable) {
    couldNotRead(row, answer.unreadable);
  } else if (answer.status === 0) {
    batch.made += 1;
    offer(row, answer.output);
  } else {
    batch.refused += 1;
    refused(row, answer);
  }
}

function couldNotRead(row, why) {
  batch.unreadable += 1;
  row.state.textContent = 'could not be read';
  messages.textContent += `(${why})\n`;
  batch.problems.push(
    `${row.path} could not be read: it is a folder, or it changed or vanished ` +
      'since it was chosen. Choose it again.',
  );
}

// What a WAV file is, from wavcheck's keys ("PCM 24-bit, 1 channel, 48000
// Hz, 3.0 s"); null for anything else.
function whatItIs(keys) {
  if (keys.wave !== 'yes' || keys.format === 'none') return null;
  const format = { pcm: 'PCM', float: 'float' }[keys.format];
  const channels = keys.channels === '1' ? '1 channel' : `${keys.channels} channels`;
  return [
    format ? `${format} ${keys.bits}-bit` : `format ${keys.format}`,
    channels,
    `${keys.rate} Hz`,
    `${keys.seconds} s`,
  ].join(', ');
}

function refused(row, answer) {
  const keys = answer.keys ?? { why: [] };
  row.keys = keys;
  const what = whatItIs(keys);
  const why = row.size === 0 ? ['empty: the file holds no bytes'] : keys.why;
  row.state.textContent =
    `${answer.lines.at(-1) ?? 'failed'}${what ? ` (${what})` : ''}` +
    `${why.length > 0 ? `: ${why.join('; ')}` : ''}`;
  if (row.size === 0) return;
  // A WAV whose header tells its length and channels is refused now if
  // preparing it would not fit; anything else that may be audio is offered.
  const wav = keys.wave === 'yes' && keys.format !== 'none';
  if (wav) {
    const tooLong = overBudget(row.path, {
      channels: Number(keys.channels),
      seconds: Number(keys.seconds),
    });
    if (tooLong !== null) {
      row.state.append(` (${tooLong})`);
      return;
    }
  }
  const audio = /^(audio|video)\//.test(row.file.type) || kAudioNames.test(row.file.name);
  if (wav || audio) {
    row.state.append(
      ' ',
      button(
        'Resample to 44.1 kHz stereo and convert',
        `Resample to 44.1 kHz stereo and convert ${row.path}`,
        (event) => {
          event.target.remove();
          row.li.focus();
          batch.refused -= 1;
          schedule(prepareTask(row));
        },
      ),
    );
  }
}

// The user's choice, never made for them: the browser decodes the file and
// resamples it, and wav2ima converts the result.
function prepareTask(row) {
  return {
    row,
    run: async (signal) => {
      const { file } = row;
      say(`Preparing ${row.path}: the browser decodes and resamples it…`);
      row.state.textContent = 'preparing…';
      let prepared;
      try {
        prepared = await prepareWav(row, signal);
      } catch (error) {
        row.state.textContent = error instanceof Cancelled ? 'cancelled' : 'not prepared';
        if (error instanceof Cancelled) batch.cancelled += 1;
        if (error instanceof Unreadable) couldNotRead(row, error.message);
        else
          batch.problems.push(
            error instanceof Refusal ? error.message : problem(error, `Preparing of ${row.path}`),
          );
        return;
      }
      const inputName = `${baseName(row.path)}-prepared.wav`;
      messages.textContent +=
        `prepared ${inputName} from ${file.name} (${prepared.was}): ` +
        `resampled to 44100 Hz by the browser, stereo, 16-bit${prepared.scaled}\n`;
      if (prepared.note)
        batch.problems.push(`${prepared.note[0].toUpperCase()}${prepared.note.slice(1)}.`);
      await runWav2ima(row, prepared.wav, inputName, signal);
    },
  };
}

// A step of the page outside the worker (the browser decoding) that Cancel
// ends at once for the page, whatever the browser still does with it.
function abortable(promise, signal) {
  return new Promise((resolve, reject) => {
    signal.addEventListener('abort', () => reject(signal.reason), { once: true });
    promise.then(resolve, reject);
  });
}

async function readWhole(file, signal) {
  const { bytes, unreadable } = await converter.run('read', { file }, { signal });
  if (unreadable) throw new Unreadable(unreadable);
  return bytes;
}

async function prepareWav(row, signal) {
  const { file, keys } = row;
  const wav = keys?.wave === 'yes' && keys.format !== 'none';
  const known = wav
    ? { channels: Number(keys.channels), seconds: Number(keys.seconds) }
    : await abortable(describe(file), signal);
  const tooLong = overBudget(row.path, known);
  if (tooLong !== null) throw new Refusal(tooLong);
  const decoded = await abortable(
    decode(file, (whole) => readWhole(whole, signal)),
    signal,
  );
  const gain = await gainFor(decoded.buffer, signal);
  const { job, answer } = await converter.open('prepare', {}, { signal });
  await sendSlices(
    decoded.buffer,
    (left, right, share) => {
      progress.value = share;
      converter.post('samples', job, { left, right, gain }, [left.buffer, right.buffer]);
    },
    signal,
  );
  converter.post('finish', job, {});
  const was =
    whatItIs(keys ?? {}) ??
    [
      file.type || 'type unknown',
      decoded.channels === 1 ? '1 channel' : `${decoded.channels} channels`,
      `${decoded.seconds.toFixed(1)} s`,
    ].join(', ');
  const decibels = (20 * Math.log10(gain)).toFixed(1);
  const scaled = gain < 1 ? `, scaled by ${decibels} dB so that no sample clips` : '';
  return { wav: (await answer).wav, was, scaled, note: decoded.note };
}

function offer(row, blob) {
  row.blob = blob;
  const link = document.createElement('a');
  link.href = URL.createObjectURL(blob);
  link.download = row.stream;
  link.textContent = row.stream;
  const listen = button('Listen', `Listen to ${row.stream}`, () => schedule(listenTask(row)));
  row.state.replaceChildren(
    link,
    ` ${duration(blob.size)}, ${blob.size.toLocaleString('en')} bytes `,
    listen,
  );
  // A zip made before holds fewer streams: the next press makes another.
  if (batch.zip !== null) {
    URL.revokeObjectURL(downloadAll.href);
    downloadAll.href = '#';
    batch.zip = null;
  }
  if (batch.made >= 2) {
    downloadAll.textContent = `Download all ${batch.made} streams as one zip`;
    downloadAll.hidden = false;
  }
}

let heard = null; // the object URL of the WAV the player holds

function listenTask(row) {
  return {
    run: async (signal) => {
      if (row.blob.size === 0) {
        say(`${row.stream} is empty: there is nothing to play.`);
        return;
      }
      const decoded = `${baseName(row.stream)}-decoded.wav`;
      say(`Decoding ${row.stream} with ima2wav…`);
      let answer;
      try {
        answer = await converter.run(
          'convert',
          { program: 'ima2wav', input: row.blob, shown: [row.stream, decoded] },
          {
            signal,
            onShare: (share) => {
              progress.value = share;
            },
          },
        );
      } catch (error) {
        say(problem(error, `Decoding of ${row.stream}`));
        return;
      }
      transcript(`ima2wav ${row.stream} ${decoded}`, answer);
      if (answer.status !== 0) {
        say(`ima2wav could not decode ${row.stream}.`);
        return;
      }
      if (heard !== null) URL.revokeObjectURL(heard);
      heard = URL.createObjectURL(answer.output);
      player.src = heard;
      player.play().catch(() => {}); // a browser may hold sound back until asked again
      say(`Playing ${row.stream} as a player of it plays it.`);
    },
  };
}

// The zip of this batch's streams, made when asked: one entry a stream, in
// its folder when it came from a dropped one.
function zipTask() {
  return {
    zip: true,
    run: async (signal) => {
      const forBatch = batch;
      const made = forBatch.rows.filter((row) => row.blob);
      say(`Making one zip of ${made.length} streams…`);
      try {
        const { zip } = await converter.run(
          'zip',
          { entries: made.map((row) => ({ name: row.entry, blob: row.blob })) },
          {
            signal,
            onShare: (share) => {
              progress.value = share;
            },
          },
        );
        forBatch.zip = zip;
      } catch (error) {
        say(problem(error, 'Making the zip'));
        return;
      }
      if (forBatch !== batch) return;
      if (downloadAll.href.startsWith('blob:')) URL.revokeObjectURL(downloadAll.href);
      downloadAll.href = URL.createObjectURL(forBatch.zip);
      say(
        `Made one zip of ${made.length} streams, ${forBatch.zip.size.toLocaleString('en')} bytes.`,
      );
      downloadAll.click();
    },
  };
}

downloadAll.addEventListener('click', (event) => {
  if (batch?.zip) return; // the zip is made: the link downloads it
  event.preventDefault();
  if (!queue.tasks.some((task) => task.zip)) schedule(zipTask());
});

// Files chosen or dropped, each {file, path}; `skipped` files of a folder
// that are not WAV.
function add(found, skipped = 0) {
  if (found.length === 0) return;
  const idle = queue.current === null;
  if (idle) startBatch();
  if (skipped > 0) {
    batch.problems.push(
      `${skipped} ${skipped === 1 ? 'file' : 'files'} of the folder skipped: ` +
        'not WAV. Choose them as files to prepare them.',
    );
  }
  const rows = found.map(({ file, path }) => addRow(file, path));
  rows.forEach((row, i) => {
    schedule(convertTask(row, rows.length > 1 ? `, ${i + 1} of ${rows.length}` : ''));
  });
  if (!idle) say(`Added ${found.length} to the queue.`);
}

// Cancel ends the task at hand and every one waiting.
cancel.addEventListener('click', () => {
  for (const { row } of queue.tasks.splice(0)) {
    if (!row) continue;
    row.state.textContent = 'cancelled';
    batch.cancelled += 1;
    queue.rows.push(row);
  }
  queue.cancelled = true;
  queue.current?.controller.abort(new Cancelled());
});

chooser.addEventListener('change', () =>
  add([...chooser.files].map((file) => ({ file, path: file.name }))),
);
chooseFolder.addEventListener('click', () => folderChooser.click());
folderChooser.addEventListener('change', () => {
  const files = [...folderChooser.files];
  const wavs = files
    .filter((file) => /\.wav$/i.test(file.name))
    .map((file) => ({ file, path: file.webkitRelativePath || file.name }))
    .sort((a, b) => a.path.localeCompare(b.path));
  add(wavs, files.length - wavs.length);
});

// A dropped folder gives its WAV files, at any depth, where the browser
// lets the page walk it; anything else dropped is handed to wav2ima as is.
async function filesOf(entry, found, counts) {
  if (entry.isFile) {
    found.push({
      file: await new Promise((resolve, reject) => entry.file(resolve, reject)),
      path: entry.fullPath.replace(/^\//, ''),
    });
    return;
  }
  const reader = entry.createReader();
  const readEntries = () => new Promise((resolve, reject) => reader.readEntries(resolve, reject));
  for (let entries = await readEntries(); entries.length > 0; entries = await readEntries()) {
    entries.sort((a, b) => a.name.localeCompare(b.name));
    for (const child of entries) {
      if (child.isDirectory || /\.wav$/i.test(child.name)) await filesOf(child, found, counts);
      else counts.skipped += 1;
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
  const plain = [...event.dataTransfer.files].map((file) => ({ file, path: file.name }));
  if (entries.some((entry) => entry === null)) {
    add(plain);
    return;
  }
  const found = [];
  const counts = { skipped: 0 };
  try {
    for (const entry of entries) await filesOf(entry, found, counts);
  } catch (error) {
    say(`The dropped folder could not be read (${error.message}).`);
    return;
  }
  if (found.length === 0) {
    say(
      `No WAV files in what was dropped${counts.skipped > 0 ? `: ${counts.skipped} other files skipped` : ''}.`,
    );
  }
  add(found, counts.skipped);
});

say('Loading the converter…');
converter.start().then(
  () => say('Ready: choose or drop WAV files. They never leave this computer.'),
  (error) =>
    say(
      `The converter could not be loaded (${error.message}). Reload the page, or ` +
        'choose a file to try again.',
    ),
);
