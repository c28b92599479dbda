// Preparing audio wav2ima refuses, when asked: the browser decodes and
// resamples it, the worker writes it as a WAV, and wav2ima converts that.
import { batch } from './batch.js';
import { abortable, Cancelled, converter, problem } from './converter.js';
import { baseName } from './names.js';
import {
  decode,
  describe,
  gainFor,
  overBudget,
  Refusal,
  sendSlices,
  Unreadable,
} from './prepare.js';
import { couldNotRead, runWav2ima, whatItIs } from './rows.js';
import { messages, progress, say } from './view.js';

// The user's choice, never made for them: the browser decodes the file and
// resamples it, and wav2ima converts the result.
/**
 * @param {import('./rows.js').Row} row
 * @returns {import('./batch.js').Task}
 */
export function prepareTask(row) {
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

/**
 * @param {File} file
 * @param {AbortSignal} signal
 * @returns {Promise<ArrayBuffer>}
 */
async function readWhole(file, signal) {
  const { bytes, unreadable } = await converter.run('read', { file }, { signal });
  if (unreadable) throw new Unreadable(unreadable);
  return bytes;
}

/**
 * @param {import('./rows.js').Row} row
 * @param {AbortSignal} signal
 */
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
      converter.post('samples', job, { left, right, gain }, [
        /** @type {ArrayBuffer} */ (left.buffer),
        /** @type {ArrayBuffer} */ (right.buffer),
      ]);
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
