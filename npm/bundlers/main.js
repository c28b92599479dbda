// A page that only imports the package, as Vite and webpack build it: they
// ship the programs beside the bundle themselves.
import { wav2ima } from 'wav2ima';
import { show } from './show.js';

show(wav2ima);
