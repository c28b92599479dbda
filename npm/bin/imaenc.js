#!/usr/bin/env node
import { runCommand } from '../cli.js';

process.exitCode = await runCommand(new URL('../imaenc.wasm', import.meta.url), [
  'imaenc',
  ...process.argv.slice(2),
]);
