// Names from users are data: a chosen file's name, or a dropped folder's
// path, becomes a download's name or a zip entry only once it is safe on
// every system (no path segments, no character Windows refuses, no control
// character, no leading dot, no device name) and unique among the others.

// Bytes of UTF-8 a name's base may take: file systems allow 255 a segment.
const kMaxBaseBytes = 200;
const kDeviceNames = /^(con|prn|aux|nul|com[1-9]|lpt[1-9])(\..*)?$/i;

const utf8Length = (/** @type {string} */ text) => new TextEncoder().encode(text).length;

// One path segment made safe, `fallback` where nothing of it is left.
/**
 * @param {string} segment
 * @param {string} fallback
 */
export function safeSegment(segment, fallback) {
  let safe = [...segment]
    .filter((c) => c >= ' ' && c !== '\u007f')
    .join('')
    .replace(/[<>:"/\\|?*]/g, '_')
    .replace(/^[.\s]+|[.\s]+$/g, '');
  while (utf8Length(safe) > kMaxBaseBytes) safe = [...safe].slice(0, -1).join('').trimEnd();
  if (safe === '') return fallback;
  return kDeviceNames.test(safe) ? `_${safe}` : safe;
}

// A file's name without its extension ("take.wav" -> "take").
export const baseName = (/** @type {string} */ name) => name.replace(/\.[^.]*$/, '');

// The safe name of what is made of `input` (a name, or a path "a/b.wav" of
// a dropped folder): each segment made safe, the extension replaced.
/**
 * @param {string} input
 * @param {string} extension
 */
export function madeName(input, extension) {
  const segments = input.split('/');
  const file = `${safeSegment(baseName(segments.pop() ?? ''), 'stream')}${extension}`;
  return [...segments.map((segment) => safeSegment(segment, 'folder')), file].join('/');
}

// Gives out names distinct from each other, as Windows and macOS compare
// them (whatever the case): "a.ima", then "a-2.ima", "a-3.ima".
export class NameSet {
  /** @type {Set<string>} */
  #taken = new Set();

  /** @param {string} name */
  claim(name) {
    const dot = name.lastIndexOf('.');
    const [stem, extension] =
      dot > name.lastIndexOf('/') ? [name.slice(0, dot), name.slice(dot)] : [name, ''];
    let unique = name;
    for (let n = 2; this.#taken.has(unique.toLowerCase()); n++) unique = `${stem}-${n}${extension}`;
    this.#taken.add(unique.toLowerCase());
    return unique;
  }
}
