/**
 * A conversion the program refused: its message ("convert error"), its exit status, and what
 * the file says of itself in plain words ("mono: 1 channel, wav2ima converts stereo"), or null
 * where it says nothing against the file.
 */
export declare class ConversionError extends Error {
  readonly name: 'ConversionError';
  readonly status: number;
  readonly reason: string | null;
}

/**
 * Under node, a file the library opens and reads itself (`fs.promises.open(path)`): read from
 * its start, and left open.
 */
export interface FileHandleInput {
  readonly fd: number;
}

/**
 * What a conversion takes: bytes, read where they are, or a Blob (a File), read in slices; under
 * node also a file's path (a string or a file: URL) or a FileHandle, which the library reads
 * itself, at any size (node's `openAsBlob` gives a file past 4 GiB a size modulo 2^32).
 */
export type Input = Uint8Array | ArrayBuffer | Blob | string | URL | FileHandleInput;

export interface ConvertOptions {
  /**
   * 'bytes' (the default) resolves to one Uint8Array; 'blob' to a Blob, for outputs past what
   * one array holds.
   */
  output?: 'bytes' | 'blob';
  /** Aborting it rejects the conversion with its reason (an AbortError) and stops it. */
  signal?: AbortSignal;
  /** Called with the share of the input read, from 0 to 1. */
  onProgress?: (share: number) => void;
}

/**
 * How hard imaenc searches for codes: 0 is wav2ima's own bytes; 1 the nearest code (4.9 dB
 * nearer the source on real recordings, in under twice wav2ima's time); 4 the command's default
 * (5.6 dB, 8 times); 9 the best search (6.5 dB, about 560 times on one thread). Every IMA player
 * plays each level's stream.
 */
export type Level = 0 | 1 | 2 | 3 | 4 | 5 | 6 | 7 | 8 | 9;

export interface WavOptions extends ConvertOptions {
  /** Chooses the codes by imaenc's search at this level, as `imaenc -LEVEL IN OUT` does. */
  level?: Level;
}

/**
 * Converts a RIFF/WAVE file of 16-bit stereo PCM at 44100 Hz into a bare IMA ADPCM stream (one
 * byte per stereo frame, the left code in the high nibble), as `wav2ima IN OUT` does (or
 * `imaenc -LEVEL IN OUT`, given a level), off the calling thread. Rejects with a ConversionError
 * when the program refuses the input, and with a TypeError for an input of another type or a
 * detached one, or a level outside 0 to 9.
 */
export declare function wav2ima(
  input: Input,
  options?: (WavOptions & { output?: 'bytes' }) | null,
): Promise<Uint8Array<ArrayBuffer>>;
export declare function wav2ima(
  input: Input,
  options: WavOptions & { output: 'blob' },
): Promise<Blob>;
export declare function wav2ima(
  input: Input,
  options?: WavOptions | null,
): Promise<Uint8Array<ArrayBuffer> | Blob>;

/**
 * Decodes a stream written by wav2ima into a 16-bit stereo 44.1 kHz WAV file, as
 * `ima2wav IN OUT` does, off the calling thread. Rejects as wav2ima does.
 */
export declare function ima2wav(
  input: Input,
  options?: (ConvertOptions & { output?: 'bytes' }) | null,
): Promise<Uint8Array<ArrayBuffer>>;
export declare function ima2wav(
  input: Input,
  options: ConvertOptions & { output: 'blob' },
): Promise<Blob>;
export declare function ima2wav(
  input: Input,
  options?: ConvertOptions | null,
): Promise<Uint8Array<ArrayBuffer> | Blob>;

/**
 * A compiled WebAssembly.Module, where the project's libraries declare one (the DOM's do; a node
 * project without them has none to give).
 */
export type CompiledProgram = typeof globalThis extends {
  WebAssembly: { Module: abstract new (...args: never[]) => infer Module };
}
  ? Module
  : never;

/** A program as the library can take it. */
export type ProgramSource =
  | URL
  | string
  | Response
  | ArrayBuffer
  | ArrayBufferView
  | CompiledProgram;

/**
 * Hands the library its programs where a bundler left them behind: each a URL (or a string
 * naming one, or a file path under node), a Response, bytes or a compiled WebAssembly.Module.
 * imaenc serves the conversions at a level; without it they reject.
 */
export declare function usePrograms(programs: {
  wav2ima: ProgramSource;
  ima2wav: ProgramSource;
  wavcheck: ProgramSource;
  imaenc?: ProgramSource;
}): void;
