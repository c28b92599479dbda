// What the page shows, and where: its elements, the notice, the messages
// and the buttons rows carry. Every other module of the page writes to the
// page through these.

/**
 * The page's element of that id, of that type: a page that lacks it is not
 * this page, and stops here.
 * @template {HTMLElement} T
 * @param {string} id
 * @param {{new (): T, prototype: T}} type
 * @returns {T}
 */
function element(id, type) {
  const found = document.getElementById(id);
  if (!(found instanceof type)) throw new Error(`the page has no ${type.name} #${id}`);
  return found;
}

export const chooser = element('wav-file', HTMLInputElement);
export const folderChooser = element('wav-folder', HTMLInputElement);
export const chooseFolder = element('choose-folder', HTMLButtonElement);
export const drop = element('drop', HTMLLabelElement);
export const progress = element('progress', HTMLProgressElement);
export const cancel = element('cancel', HTMLButtonElement);
export const notice = element('notice', HTMLParagraphElement);
export const messages = element('messages', HTMLPreElement);
export const results = element('results', HTMLOListElement);
export const downloadAll = element('download-all', HTMLAnchorElement);
export const player = element('player', HTMLAudioElement);
export const levelChoice = element('level', HTMLSelectElement);

/** @param {string} text */
export const say = (text) => {
  notice.textContent = text;
};

/**
 * @param {string} command
 * @param {{lines: string[], status: number}} answer
 */
export function transcript(command, { lines, status }) {
  messages.textContent += `$ ${command}\n${lines.map((line) => `${line}\n`).join('')}`;
  messages.textContent += `exit status ${status}\n`;
}

const kBytesPerTenth = 4410; // stream bytes (frames) in a tenth of a second

// A stream's length as people read it: minutes and seconds to a tenth, and
// hours before them from the first hour on.
/** @param {number} bytes */
export function duration(bytes) {
  const tenths = Math.round(bytes / kBytesPerTenth);
  const seconds = ((tenths % 600) / 10).toFixed(1).padStart(4, '0');
  const minutes = Math.floor(tenths / 600);
  if (minutes < 60) return `${minutes}:${seconds}`;
  return `${Math.floor(minutes / 60)}:${String(minutes % 60).padStart(2, '0')}:${seconds}`;
}

/**
 * @param {string} text
 * @param {string} label
 * @param {(event: MouseEvent) => void} onClick
 */
export function button(text, label, onClick) {
  const element = document.createElement('button');
  element.type = 'button';
  element.textContent = text;
  element.setAttribute('aria-label', label);
  element.addEventListener('click', onClick);
  return element;
}
