#!/usr/bin/env node
import { runCommand } from '../cli.js';

process.exitCode = await runCommand(new URL('../ima2wav.wasm', import.meta.url), [
  'ima2wav',
  ...process.argv.slice(2),
]);
