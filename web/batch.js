import { Cancelled, problem } from './converter.js';
import { NameSet } from './names.js';
import {
  cancel,
  chooser,
  downloadAll,
  folderChooser,
  messages,
  progress,
  results,
  say,
} from './view.js';

/**
 * A step the queue runs: converting, preparing or playing a file, or
 * making the zip; `row` where it works on a row of the list.
 * @typedef {object} Task
 * @property {(signal: AbortSignal) => Promise<void>} run
 * @property {import('./rows.js').Row} [row]
 * @property {boolean} [zip]
 */
/**
 * @typedef {object} Batch
 * @property {import('./rows.js').Row[]} rows
 * @property {number} made
 * @property {number} refused
 * @property {number} unreadable
 * @property {number} cancelled
 * @property {string[]} problems
 * @property {NameSet} downloads
 * @property {NameSet} entries
 * @property {Blob | null} zip
 */

// Tasks run one after another, each under an AbortController that Cancel
// aborts; files dropped during a run wait their turn. A task of a row
// (converting or preparing a file) belongs to the batch, whose summary is
// said once the queue has run dry.
/**
 * @type {{tasks: Task[], current: {task: Task, controller: AbortController} | null,
 *   rows: import('./rows.js').Row[], cancelled: boolean}}
 */
export const queue = { tasks: [], current: null, rows: [], cancelled: false };

/** @param {Task} task */
export function schedule(task) {
  queue.tasks.push(task);
  if (queue.current === null) drain();
}

async function drain() {
  cancel.disabled = false;
  results.setAttribute('aria-busy', 'true');
  for (let task = queue.tasks.shift(); task !== undefined; task = queue.tasks.shift()) {
    const controller = new AbortController();
    queue.current = { task, controller };
    if (task.row) queue.rows.push(task.row);
    progress.value = 0;
    // Each task says what became of it; one that throws all the same is a
    // fault of the page, said as such, and the queue goes on.
    try {
      await task.run(controller.signal);
    } catch (error) {
      batch.problems.push(problem(error, 'A step of the page'));
    }
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
  else queue.rows[0]?.li.focus();
  queue.rows = [];
  queue.cancelled = false;
}

// The files chosen or dropped while the queue was idle, and what became of
// them: the summary at the end, the problems beside it, the names given out.
/** @type {Batch} */
export let batch = newBatch();

function newBatch() {
  return {
    rows: [],
    made: 0,
    refused: 0,
    unreadable: 0,
    cancelled: 0,
    /** @type {string[]} */
    problems: [],
    downloads: new NameSet(),
    entries: new NameSet(),
    zip: null,
  };
}

export function startBatch() {
  for (const link of document.querySelectorAll('a[href^="blob:"]'))
    URL.revokeObjectURL(/** @type {HTMLAnchorElement} */ (link).href);
  downloadAll.hidden = true;
  downloadAll.href = '#';
  results.replaceChildren();
  messages.textContent = '';
  batch = newBatch();
}

function summary() {
  const { made, refused, unreadable, cancelled, problems } = batch;
  const parts = [`${made} ${made === 1 ? 'stream' : 'streams'} made`];
  if (refused > 0) parts.push(`${refused} refused by wav2ima`);
  if (unreadable > 0) parts.push(`${unreadable} could not be read`);
  if (cancelled > 0) parts.push(`${cancelled} cancelled`);
  return [`Done: ${parts.join(', ')}.`, ...problems].join(' ');
}

// Cancel ends the task at hand and every one waiting.
export function cancelAll() {
  for (const { row } of queue.tasks.splice(0)) {
    if (!row) continue;
    row.state.textContent = 'cancelled';
    batch.cancelled += 1;
    queue.rows.push(row);
  }
  queue.cancelled = true;
  queue.current?.controller.abort(new Cancelled());
}
