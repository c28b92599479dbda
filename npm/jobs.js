// What a run of a program is, to both workers that run them (the library's
// and the page's): the names it is given for its input and output (the
// files of the folder it runs in, never the user's names), the type of what
// it writes, and wavcheck's answer read as keys.
export const kFileNames = {
  wav2ima: ['in.wav', 'out.ima'],
  imaenc: ['in.wav', 'out.ima'],
  ima2wav: ['in.ima', 'out.wav'],
};

export const kOutputTypes = {
  wav2ima: 'application/octet-stream',
  imaenc: 'application/octet-stream',
  ima2wav: 'audio/wav',
};

// wavcheck's lines ("KEY VALUE") as keys and values; `why` gathers its
// reasons, in order.
/**
 * @param {string[]} lines
 * @returns {{why: string[], [key: string]: string | string[]}}
 */
export function readKeys(lines) {
  /** @type {{why: string[], [key: string]: string | string[]}} */
  const keys = { why: [] };
  for (const line of lines) {
    const space = line.indexOf(' ');
    const [key, value] = [line.slice(0, space), line.slice(space + 1)];
    if (key === 'why') keys.why.push(value);
    else keys[key] = value;
  }
  return keys;
}
