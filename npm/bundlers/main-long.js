// A page that is not cross-origin isolated hands the library an array of
// 300 MB: it shows the stream's length and its longest task, in ms.
import { usePrograms, wav2ima } from 'wav2ima';
import programs from 'wav2ima/programs';

usePrograms(programs);
const result = /** @type {HTMLElement} */ (document.querySelector('#result'));
let longest = 0;
new PerformanceObserver((list) => {
  for (const task of list.getEntries()) longest = Math.max(longest, task.duration);
}).observe({ type: 'longtask' });
const dataSize = 300_000_000;
const wav = new Uint8Array(44 + dataSize);
const view = new DataView(wav.buffer);
const text = new TextEncoder();
wav.set(text.encode('RIFF'), 0);
wav.set(text.encode('WAVEfmt '), 8);
wav.set(text.encode('data'), 36);
for (const [at, value] of [
  [4, 36 + dataSize],
  [16, 16],
  [24, 44100],
  [28, 176400],
  [40, dataSize],
])
  view.setUint32(at, value, true);
for (const [at, value] of [
  [20, 1],
  [22, 2],
  [32, 4],
  [34, 16],
])
  view.setUint16(at, value, true);
// The page's own work so far is not the library's.
setTimeout(async () => {
  longest = 0;
  try {
    const stream = await wav2ima(wav);
    result.textContent = `${stream.length} ${Math.round(longest)}`;
  } catch (error) {
    result.textContent = `failed: ${error instanceof Error ? error.message : error}`;
  }
}, 100);
