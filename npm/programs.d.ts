/**
 * The programs as the bundler's loader gives an imported `.wasm` file: its URL (esbuild's
 * file loader, Rollup's url plugin) or its bytes (esbuild's binary loader). Hand them to
 * `usePrograms`.
 */
declare const programs: {
  wav2ima: string | Uint8Array;
  ima2wav: string | Uint8Array;
  wavcheck: string | Uint8Array;
  imaenc: string | Uint8Array;
};
export default programs;
