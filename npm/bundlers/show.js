// Converts the example served beside the page with the package, and shows
// the stream's SHA-256 (or the error and its status) for the test to compare.
/** @param {(wav: Uint8Array) => Promise<Uint8Array<ArrayBuffer>>} wav2ima */
export async function show(wav2ima) {
  const result = /** @type {HTMLElement} */ (document.querySelector('#result'));
  try {
    const wav = new Uint8Array(await (await fetch('sweep.wav')).arrayBuffer());
    const digest = new Uint8Array(await crypto.subtle.digest('SHA-256', await wav2ima(wav)));
    result.textContent = Array.from(digest, (b) => b.toString(16).padStart(2, '0')).join('');
  } catch (caught) {
    const error = /** @type {Error & {status?: number}} */ (caught);
    result.textContent = `failed: ${error.message} (${error.status})`;
  }
}
