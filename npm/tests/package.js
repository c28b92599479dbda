// What the package's tests run against: the built package, as its users get
// it (the folder WAV2IMA_PACKAGE names, or build-wasi/npm of the source
// tree), and what the native build (WAV2IMA_NATIVE, or build/) makes of the
// same inputs.
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { pathToFileURL } from 'node:url';

const root = new URL('../../', import.meta.url).pathname;
export const packageDir = resolve(process.env.WAV2IMA_PACKAGE ?? join(root, 'build-wasi/npm'));
export const nativeDir = resolve(process.env.WAV2IMA_NATIVE ?? join(root, 'build'));
export const example = join(root, 'examples/sweep.wav');
/** @type {(module: string) => Promise<any>} */
export const load = (module) => import(pathToFileURL(join(packageDir, module)).href);

// The native program's output for `input` (bytes), or null where it refuses
// it; `options` before the names.
/**
 * @param {string} program
 * @param {Uint8Array} input
 * @param {string[]} [options]
 */
export function native(program, input, options = []) {
  const dir = mkdtempSync(join(tmpdir(), 'wav2ima-native-'));
  try {
    writeFileSync(join(dir, 'in'), input);
    execFileSync(join(nativeDir, program), [...options, join(dir, 'in'), join(dir, 'out')], {
      stdio: 'ignore',
    });
    return readFileSync(join(dir, 'out'));
  } catch {
    return null;
  } finally {
    rmSync(dir, { recursive: true });
  }
}
