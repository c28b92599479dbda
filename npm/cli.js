// The programs as commands under node, as the native ones run: their
// arguments, the descriptors the command was given, the host's file system
// through the kernel, and the exit status. The program starts in the working
// directory, named to it in PWD; where that directory is gone, PWD is empty
// and the program opens no relative name, as the kernel would find none.
import { readFile } from 'node:fs/promises';
import { hostDescriptors, workingDirectoryName } from './host.js';
import { runProgram } from './run.js';

function workingDirectory() {
  try {
    return workingDirectoryName(process.cwd());
  } catch {
    return '';
  }
}

// Resolves to the program's exit status. The descriptors are taken first,
// before node opens anything of its own for the run.
/**
 * @param {string | URL} wasm the program's file
 * @param {string[]} args
 */
export async function runCommand(wasm, args) {
  const fds = hostDescriptors();
  const module = await WebAssembly.compile(await readFile(wasm));
  return runProgram(module, args, fds, [`PWD=${workingDirectory()}`]);
}
