// The page's face: it queues the chosen and dropped files, hands each to the
// worker, which runs the programs, and shows what they say and make. Nothing
// is uploaded: a file goes from the disk to the worker and comes back as a
// download. The worker makes every Blob; this thread moves only messages and
// finished Blobs, so no task here runs long. Its parts: view.js (the page's
// elements and words), converter.js (the worker and its jobs), batch.js (the
// queue of tasks and the batch's state), rows.js (the file list), preparing.js
// (preparing other audio), listening.js and zipping.js (the download of all).
import { batch, cancelAll, queue, schedule, startBatch } from './batch.js';
import { converter } from './converter.js';
import { addRow, convertTask } from './rows.js';
import { cancel, chooseFolder, chooser, downloadAll, drop, folderChooser, say } from './view.js';
import { wantZip } from './zipping.js';

/** @typedef {{file: File, path: string}} Found a file, and its path in a dropped folder */

// Files chosen or dropped; `skipped` files of a folder that are not WAV.
/**
 * @param {Found[]} found
 * @param {number} [skipped]
 */
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

cancel.addEventListener('click', cancelAll);
downloadAll.addEventListener('click', wantZip);

chooser.addEventListener('change', () =>
  add([...(chooser.files ?? [])].map((file) => ({ file, path: file.name }))),
);
chooseFolder.addEventListener('click', () => folderChooser.click());
folderChooser.addEventListener('change', () => {
  const files = [...(folderChooser.files ?? [])];
  const wavs = files
    .filter((file) => /\.wav$/i.test(file.name))
    .map((file) => ({ file, path: file.webkitRelativePath || file.name }))
    .sort((a, b) => a.path.localeCompare(b.path));
  add(wavs, files.length - wavs.length);
});

// A dropped folder gives its WAV files, at any depth, where the browser
// lets the page walk it; anything else dropped is handed to wav2ima as is.
/**
 * @param {FileSystemEntry} entry
 * @param {Found[]} found
 * @param {{skipped: number}} counts
 */
async function filesOf(entry, found, counts) {
  if (entry.isFile) {
    const file = /** @type {FileSystemFileEntry} */ (entry);
    found.push({
      file: await new Promise((resolve, reject) => file.file(resolve, reject)),
      path: entry.fullPath.replace(/^\//, ''),
    });
    return;
  }
  const reader = /** @type {FileSystemDirectoryEntry} */ (entry).createReader();
  /** @returns {Promise<FileSystemEntry[]>} */
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
  const dropped = event.dataTransfer;
  if (dropped === null) return;
  const entries = [...dropped.items].map((item) => item.webkitGetAsEntry?.() ?? null);
  const plain = [...dropped.files].map((file) => ({ file, path: file.name }));
  if (entries.some((entry) => entry === null)) {
    add(plain);
    return;
  }
  /** @type {Found[]} */
  const found = [];
  const counts = { skipped: 0 };
  try {
    for (const entry of entries) if (entry !== null) await filesOf(entry, found, counts);
  } catch (error) {
    const why = error instanceof Error ? error.message : String(error);
    say(`The dropped folder could not be read (${why}).`);
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
converter.ready().then(
  () => say('Ready: choose or drop WAV files. They never leave this computer.'),
  (error) =>
    say(
      `The converter could not be loaded (${error.message}). Reload the page, or ` +
        'choose a file to try again.',
    ),
);
