// The built package the tests run against, as its users get it: the folder
// WAV2IMA_PACKAGE names, or build-wasi/npm of the source tree.
import { join, resolve } from 'node:path';
import { pathToFileURL } from 'node:url';

export const packageDir = resolve(process.env.WAV2IMA_PACKAGE ?? new URL('../../build-wasi/npm', import.meta.url).pathname);
export const load = (module) => import(pathToFileURL(join(packageDir, module)).href);
