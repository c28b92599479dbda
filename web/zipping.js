// The download of all the batch's streams as one zip: offered once two are
// made, made by the worker when asked, and made again when more come.
import { batch, queue, schedule } from './batch.js';
import { converter, problem } from './converter.js';
import { downloadAll, progress, say } from './view.js';

// The zip of this batch's streams, made when asked: one entry a stream, in
// its folder when it came from a dropped one.
/** @returns {import('./batch.js').Task} */
function zipTask() {
  return {
    zip: true,
    run: async (signal) => {
      const forBatch = batch;
      const made = forBatch.rows.filter((row) => row.blob !== null);
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
      if (forBatch !== batch || forBatch.zip === null) return;
      if (downloadAll.href.startsWith('blob:')) URL.revokeObjectURL(downloadAll.href);
      downloadAll.href = URL.createObjectURL(forBatch.zip);
      say(
        `Made one zip of ${made.length} streams, ${forBatch.zip.size.toLocaleString('en')} bytes.`,
      );
      downloadAll.click();
    },
  };
}

// The link pressed: it downloads the zip once made, and asks for it before.
/** @param {Event} event */
export function wantZip(event) {
  if (batch.zip) return;
  event.preventDefault();
  if (!queue.tasks.some((task) => task.zip)) schedule(zipTask());
}

// A stream was made: a zip made before holds fewer streams, and the next
// press makes another; from two streams on the link is offered.
export function streamsChanged() {
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
