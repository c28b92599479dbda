// The list of files: a row each, what became of it, and what it offers
// (its stream, Listen, Resample).
import { batch, schedule } from './batch.js';
import { abortable, Cancelled, converter, problem } from './converter.js';
import { listenTask } from './listening.js';
import { madeName } from './names.js';
import { describe, overBudget } from './prepare.js';
import { prepareTask } from './preparing.js';
import {
  button,
  duration,
  levelChoice,
  messages,
  progress,
  results,
  say,
  transcript,
} from './view.js';
import { streamsChanged } from './zipping.js';

// Files the system or the name calls audio or video: worth decoding.
const kAudioNames = /\.(wav|wave|mp3|ogg|oga|opus|flac|m4a|aac|mp4|webm|aif|aiff|caf)$/i;

/** @typedef {{why: string[], [key: string]: string | string[]}} Keys wavcheck's, as read */
/**
 * @typedef {object} Row
 * @property {HTMLLIElement} li
 * @property {HTMLSpanElement} state
 * @property {File} file
 * @property {string} path
 * @property {number} size
 * @property {string} stream the name its stream is downloaded as
 * @property {string} entry the name of its stream in the zip
 * @property {Keys | null} keys
 * @property {Blob | null} blob its stream, once made
 */

// A row of the list: the file (its path in a dropped folder) and its state.
/**
 * @param {File} file
 * @param {string} path
 * @returns {Row}
 */
export function addRow(file, path) {
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
    blob: null,
  };
  batch.rows.push(row);
  return row;
}

/**
 * @param {Row} row
 * @param {string} position
 * @returns {import('./batch.js').Task}
 */
export function convertTask(row, position) {
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
  const level = levelChoice.value;
  return level === 'rule'
    ? { program: 'wav2ima', options: [] }
    : { program: 'imaenc', options: [`-${level}`] };
}

// Runs wav2ima (or imaenc, at the level chosen) on `input` (the chosen
// file, or the WAV prepared from it, shown as `shown`) and shows in the row
// what it made, or why not.
/**
 * @param {Row} row
 * @param {Blob} input
 * @param {string} shown
 * @param {AbortSignal} signal
 */
export async function runWav2ima(row, input, shown, signal) {
  row.state.textContent = 'converting…';
  const { program, options } = chosenProgram();
  let answer;
  try {
    answer = await converter.run(
      'convert',
      {
        program,
        options,
        input: { blob: input },
        output: 'blob',
        shown: [shown, row.stream],
        explain: input === row.file,
      },
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
    await refused(row, answer, signal);
  }
}

/**
 * @param {Row} row
 * @param {string} why
 */
export function couldNotRead(row, why) {
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
/** @param {Partial<Keys>} keys */
export function whatItIs(keys) {
  if (keys.wave !== 'yes' || keys.format === 'none') return null;
  const format = /** @type {Record<string, string>} */ ({ pcm: 'PCM', float: 'float' })[
    String(keys.format)
  ];
  const channels = keys.channels === '1' ? '1 channel' : `${keys.channels} channels`;
  return [
    format ? `${format} ${keys.bits}-bit` : `format ${keys.format}`,
    channels,
    `${keys.rate} Hz`,
    `${keys.seconds} s`,
  ].join(', ');
}

/**
 * @param {Row} row
 * @param {{lines: string[], keys?: Keys}} answer
 * @param {AbortSignal} signal
 */
async function refused(row, answer, signal) {
  /** @type {Keys} */
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
  if (!wav && !(audio && (await decodes(row.file, signal)))) return;
  row.state.append(
    ' ',
    button(
      'Resample to 44.1 kHz stereo and convert',
      `Resample to 44.1 kHz stereo and convert ${row.path}`,
      (event) => {
        /** @type {HTMLElement} */ (event.target).remove();
        row.li.focus();
        batch.refused -= 1;
        schedule(prepareTask(row));
      },
    ),
  );
}

// Whether the browser decodes the file as audio, from its head, as preparing
// it would: only then is preparing it offered.
/**
 * @param {File} file
 * @param {AbortSignal} signal
 */
function decodes(file, signal) {
  return abortable(describe(file), signal).then(
    () => true,
    () => false,
  );
}

/**
 * @param {Row} row
 * @param {Blob} blob
 */
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
  streamsChanged();
}
