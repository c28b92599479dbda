// The programs as imports, for a bundler that gives an imported file's
// URL or bytes (esbuild's file or binary loader, Rollup's url plugin) where
// it would not ship them beside the library otherwise:
//
//   import { usePrograms } from 'wav2ima';
//   import programs from 'wav2ima/programs';
//   usePrograms(programs);
import ima2wav from './ima2wav.wasm';
import imaenc from './imaenc.wasm';
import wav2ima from './wav2ima.wasm';
import wavcheck from './wavcheck.wasm';

export default { wav2ima, ima2wav, wavcheck, imaenc };
