/** How a conversion fails: the program's own message ("convert error", "can not open ...") and its exit status. */
export interface ConversionError extends Error {
  status: number;
}

/**
 * Converts a RIFF/WAVE file of 16-bit stereo PCM at 44100 Hz into a bare IMA ADPCM stream (one
 * byte per stereo frame, the left code in the high nibble), as `wav2ima IN OUT` does.
 * Rejects with a ConversionError.
 */
export function wav2ima(wav: Uint8Array | ArrayBuffer): Promise<Uint8Array>;

/**
 * Decodes a stream written by wav2ima into a 16-bit stereo 44.1 kHz WAV file, as `ima2wav IN OUT`
 * does. Rejects with a ConversionError.
 */
export function ima2wav(stream: Uint8Array | ArrayBuffer): Promise<Uint8Array>;
