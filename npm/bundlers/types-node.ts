// The node side of the types, compiled without the DOM's: files by path,
// URL and FileHandle, null options, and an output chosen at run time.
import { open } from 'node:fs/promises';
import { type ConvertOptions, ima2wav, usePrograms, wav2ima } from 'wav2ima';

export async function nodeExamples(path: string, wantBlob: boolean): Promise<void> {
  const stream: Uint8Array<ArrayBuffer> = await wav2ima(path, null);
  const handle = await open(path);
  const options: ConvertOptions = { output: wantBlob ? 'blob' : 'bytes' };
  const either: Uint8Array | Blob = await ima2wav(handle, options);
  await handle.close();
  const better = await wav2ima(new URL(`file://${path}`), {
    level: 5,
    signal: AbortSignal.timeout(1000),
  });
  usePrograms({ wav2ima: path, ima2wav: new URL('file:///ima2wav.wasm'), wavcheck: stream });
  console.log(either, better.length);
}
