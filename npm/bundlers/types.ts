// The README's examples, as a consumer's TypeScript compiles them.
import { ConversionError, type ConvertOptions, ima2wav, usePrograms, wav2ima } from 'wav2ima';

export async function examples(wavBytes: Uint8Array, file: Blob): Promise<void> {
  const stream = await wav2ima(wavBytes);
  const wav: Uint8Array<ArrayBuffer> = await ima2wav(stream.buffer);
  const big: Blob = await wav2ima(file, {
    output: 'blob',
    onProgress: (share) => console.log(share),
  });
  const controller = new AbortController();
  await wav2ima(file, { signal: controller.signal }).catch((error: unknown) => {
    if (error instanceof ConversionError) console.log(error.status, error.reason ?? error.message);
  });
  usePrograms({
    wav2ima: new URL('https://example.org/wav2ima.wasm'),
    ima2wav: 'ima2wav.wasm',
    wavcheck: wav,
  });
  const options: ConvertOptions = { output: big.size > 1 << 30 ? 'blob' : 'bytes' };
  const either: Uint8Array | Blob = await ima2wav(file, options);
  console.log(big.size, either);
}
