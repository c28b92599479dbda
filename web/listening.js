// Listen: a stream decoded by ima2wav, as a player decodes it, and played.
import { converter, problem } from './converter.js';
import { baseName } from './names.js';
import { player, progress, say, transcript } from './view.js';

/** @type {string | null} the object URL of the WAV the player holds */
let heard = null;

/**
 * @param {import('./rows.js').Row} row
 * @returns {import('./batch.js').Task}
 */
export function listenTask(row) {
  return {
    run: async (signal) => {
      if (row.blob === null || row.blob.size === 0) {
        say(`${row.stream} is empty: there is nothing to play.`);
        return;
      }
      const decoded = `${baseName(row.stream)}-decoded.wav`;
      say(`Decoding ${row.stream} with ima2wav…`);
      let answer;
      try {
        answer = await converter.run(
          'convert',
          {
            program: 'ima2wav',
            input: { blob: row.blob },
            output: 'blob',
            shown: [row.stream, decoded],
          },
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
      // Out of the page's tab order until it has something to play.
      player.hidden = false;
      player.src = heard;
      player.play().catch(() => {}); // a browser may hold sound back until asked again
      say(`Playing ${row.stream} as a player of it plays it.`);
    },
  };
}
