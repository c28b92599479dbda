// Bundles the library's worker (library-worker.js, with the runner, the
// files and the WASI shim it imports) into one script and writes it as the
// string a module exports, so that the library starts its worker from that
// string and no bundler of the library's users has to know of the worker.
// The build runs it, with the esbuild the JavaScript pins hold:
//
//   node npm/embed-worker.mjs ESBUILD_MODULE PACKAGE_DIR
import { writeFile } from 'node:fs/promises';
import { join } from 'node:path';
import { pathToFileURL } from 'node:url';

const [esbuildModule, packageDir] = process.argv.slice(2);
const { build } = await import(pathToFileURL(esbuildModule).href);
const { outputFiles } = await build({
  entryPoints: [join(packageDir, 'library-worker.js')],
  bundle: true,
  format: 'iife',
  platform: 'neutral',
  legalComments: 'inline',
  write: false,
});
await writeFile(
  join(packageDir, 'worker-source.js'),
  `// The library's worker as one script, made by the build from library-worker.js.\nexport default ${JSON.stringify(outputFiles[0].text)};\n`,
);
