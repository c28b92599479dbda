// The same page as esbuild and Rollup build it: their loader gives the
// programs' URLs, which the page hands to the package.
import { usePrograms, wav2ima } from 'wav2ima';
import programs from 'wav2ima/programs';
import { show } from './show.js';

usePrograms(programs);
show(wav2ima);
