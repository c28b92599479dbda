#!/usr/bin/env node
import { runCommand } from '../cli.js';

process.exitCode = await runCommand(new URL('../wav2ima.wasm', import.meta.url), [
  'wav2ima',
  ...process.argv.slice(2),
]);
