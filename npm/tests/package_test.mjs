// The npm package as its users get it: the tarball installed into an empty
// project; both commands run by npx beside the native programs; the library
// imported by node; its types compiled by a consumer's tsc --strict under
// the three module settings; attw, publint and `npm publish --dry-run` over
// it; and the bundlers, Vite and webpack as they come, esbuild and Rollup
// with their loader for the programs, each page converting the example in
// chromium to the native bytes, and an esbuild bundle for node.
//
//   node npm/tests/package_test.mjs PACKAGE.tgz NATIVE_BUILD examples/sweep.wav

import { spawnSync } from 'node:child_process';
import { createHash } from 'node:crypto';
import { cp, mkdir, mkdtemp, readFile, rm, writeFile } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { nodeResolve } from '@rollup/plugin-node-resolve';
import url from '@rollup/plugin-url';
import { build as esbuild } from 'esbuild';
import { rollup } from 'rollup';
import { build as vite, createServer as viteServer } from 'vite';
import webpack from 'webpack';
import { launch, serve } from '../../tools/browser.mjs';

const [tarball, native, example] = process.argv.slice(2).map((path) => resolve(path));
const root = resolve(new URL('../..', import.meta.url).pathname);
/** @type {string[]} */
const failures = [];
/**
 * @param {boolean} ok
 * @param {string} what
 */
function check(ok, what) {
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${what}`);
  if (!ok) failures.push(what);
}
/** @type {(command: string, args: string[], cwd: string) => import('node:child_process').SpawnSyncReturns<string>} */
const run = (command, args, cwd) => spawnSync(command, args, { cwd, encoding: 'utf8' });
const bin = (/** @type {string} */ name) => join(root, 'node_modules/.bin', name);
const hash = (/** @type {Uint8Array} */ bytes) => createHash('sha256').update(bytes).digest('hex');

const scratch = await mkdtemp(join(tmpdir(), 'wav2ima-package-'));
const project = join(scratch, 'project');
const work = join(project, 'work');
await cp(new URL('../bundlers', import.meta.url), project, { recursive: true });
await mkdir(work);
await writeFile(
  join(project, 'package.json'),
  '{ "name": "user", "private": true, "type": "module" }\n',
);
check(
  run('npm', ['install', '--no-audit', '--no-fund', tarball], project).status === 0,
  'installed from the tarball',
);
const installed = join(project, 'node_modules/wav2ima');
await cp(example, join(project, 'sweep.wav'));
await writeFile(join(project, 'cut.wav'), (await readFile(example)).subarray(0, 1000));
run(join(native, 'wav2ima'), ['sweep.wav', 'sweep.ima'], project);
run(join(native, 'ima2wav'), ['sweep.ima', 'sweep-decoded.wav'], project);
const want = hash(await readFile(join(project, 'sweep.ima')));

// Each command by npx and natively, on relative, upward and absolute paths.
const bytes = (/** @type {string} */ path) => readFile(path).catch(() => Buffer.alloc(0));
for (const [program, input, ...options] of [
  ['wav2ima', '../sweep.wav'],
  ['wav2ima', join(project, 'cut.wav')],
  ['wav2ima', 'missing.wav'],
  ['ima2wav', '../sweep.ima'],
  ['imaenc', '../sweep.wav', '-7'],
  ['imaenc', join(project, 'cut.wav')],
]) {
  const [npx, wanted] = [
    run('npx', ['--no', '--', program, ...options, input, 'npx.out'], work),
    run(join(native, program), [...options, input, 'native.out'], work),
  ];
  const same = (await bytes(join(work, 'npx.out'))).equals(await bytes(join(work, 'native.out')));
  check(
    npx.status === wanted.status &&
      npx.stdout + npx.stderr === wanted.stdout + wanted.stderr &&
      same,
    `npx ${program} ${input} as natively (status ${npx.status}, ${JSON.stringify(npx.stdout + npx.stderr)})`,
  );
  await Promise.all(['npx.out', 'native.out'].map((name) => rm(join(work, name), { force: true })));
}

// The library as node imports it from the project.
const script = `import { readFile } from 'node:fs/promises';
  import { createHash } from 'node:crypto';
  import { wav2ima, ima2wav, ConversionError } from 'wav2ima';
  const hash = (bytes) => createHash('sha256').update(bytes).digest('hex');
  const stream = await wav2ima(await readFile('sweep.wav'));
  const refused = await wav2ima(await readFile('cut.wav')).catch((error) => error);
  console.log(JSON.stringify({ hashes: [hash(stream), hash(await ima2wav(stream.buffer))],
    refused: refused instanceof ConversionError && [refused.message, refused.status, refused.reason] }));`;
const library = JSON.parse(
  run('node', ['--input-type=module', '-e', script], project).stdout || '{}',
);
check(
  library.hashes?.join() ===
    [want, hash(await readFile(join(project, 'sweep-decoded.wav')))].join(),
  'the library gives the native bytes',
);
check(
  library.refused?.join() === 'convert error,1,cut short: the file ends before its last chunk does',
  `a truncated WAV rejects with a ConversionError and its reason (${library.refused})`,
);

// The types, as a consumer's tsc --strict reads them under each module
// setting: in a page, and in a node project without the DOM's types.
const nodeTypes = ['--types', 'node', '--typeRoots', join(root, 'node_modules/@types')];
for (const [module, resolution] of [
  ['node16', 'node16'],
  ['nodenext', 'nodenext'],
  ['esnext', 'bundler'],
]) {
  /** @type {[string, string, string[]][]} */
  const settings = [
    ['es2022,dom', 'types.ts', []],
    ['es2022', 'types-node.ts', nodeTypes],
    ['es2022,dom', 'types-cjs.cts', []],
  ];
  for (const [lib, file, more] of settings) {
    if (file.endsWith('.cts') && module === 'esnext') continue;
    const tsc = run(
      'node',
      [
        join(root, 'node_modules/typescript/bin/tsc'),
        ...['--noEmit', '--strict', '--target', 'es2022', '--lib', lib, ...more],
        ...['--module', module, '--moduleResolution', resolution, file],
      ],
      project,
    );
    check(
      tsc.status === 0,
      `tsc --strict, module ${module}, lib ${lib}: ${tsc.stdout.trim() || `${file} compiles`}`,
    );
  }
}
// attw over every resolution, node16 from CommonJS but for the one rule
// that says the package is ES modules: node 20.19 and 22.12 and later load
// those by require() too, and the README says so.
const attw = run(bin('attw'), [tarball, '--ignore-rules', 'cjs-resolves-to-esm'], root);
check(
  attw.status === 0,
  `attw, skipping node16-cjs's cjs-resolves-to-esm: ${attw.status === 0 ? 'no problem' : attw.stdout}`,
);
const publint = run(bin('publint'), ['--strict', installed], root);
check(
  publint.status === 0 && !/warn|error|suggestion/i.test(publint.stdout),
  `publint: ${publint.stdout.trim()}`,
);
// A dry run here is not logged in to the registry, and says so; nothing
// else may be said against the package.
const publish = run('npm', ['publish', '--dry-run', '--ignore-scripts'], dirname(tarball));
const warned = publish.stderr
  .split('\n')
  .filter((line) => /warn/i.test(line) && !/logged in/.test(line));
check(
  publish.status === 0 && warned.length === 0,
  `npm publish --dry-run: ${warned.join('; ') || 'clean'}`,
);

// The bundlers. Vite and webpack ship the programs beside the bundle as the
// package is; esbuild (its file loader) and Rollup (its url plugin) are
// given them by wav2ima/programs.
const out = join(scratch, 'out');
/** @type {(dir: string, script: string, type?: string, name?: string) => Promise<void>} */
const page = (dir, script, type = 'module', name = 'index.html') =>
  writeFile(
    join(dir, name),
    `<!doctype html><html lang="en"><head><meta charset="utf-8"><title>bundled</title></head><body><p id="result">converting…</p><script type="${type}" src="${script}"></script></body></html>\n`,
  );
const builds = {
  vite: () =>
    vite({
      root: project,
      logLevel: 'error',
      build: { outDir: join(out, 'vite'), emptyOutDir: true },
    }),
  webpack: async () => {
    const compiler = webpack({
      mode: 'production',
      context: project,
      entry: './main.js',
      output: { path: join(out, 'webpack') },
    });
    await new Promise((done, fail) =>
      compiler.run((error, stats) =>
        error || stats?.hasErrors()
          ? fail(error ?? new Error(stats?.toString('errors-only')))
          : done(undefined),
      ),
    );
    await page(join(out, 'webpack'), 'main.js', 'text/javascript');
  },
  esbuild: async () => {
    await esbuild({
      entryPoints: [join(project, 'main-programs.js'), join(project, 'main-long.js')],
      bundle: true,
      format: 'esm',
      outdir: join(out, 'esbuild'),
      loader: { '.wasm': 'file' },
      absWorkingDir: project,
      logLevel: 'error',
    });
    await page(join(out, 'esbuild'), 'main-programs.js');
    await page(join(out, 'esbuild'), 'main-long.js', 'module', 'long.html');
  },
  rollup: async () => {
    const bundle = await rollup({
      input: join(project, 'main-programs.js'),
      onwarn: () => {},
      // The plugin's types give its default export as a module under nodenext.
      plugins: [
        nodeResolve({ rootDir: project }),
        /** @type {any} */ (url)({ include: ['**/*.wasm'], limit: 0 }),
      ],
    });
    await bundle.write({ dir: join(out, 'rollup'), format: 'es' });
    await page(join(out, 'rollup'), 'main-programs.js');
  },
};
const browser = await launch();
// What the page at `address` shows once it has converted, or failed to.
/** @param {string} address */
async function shown(address) {
  const tab = await browser.newPage();
  await tab.goto(address);
  await tab
    .waitForFunction(() => !/…$/.test(document.querySelector('#result')?.textContent ?? '…'), {
      timeout: 60000,
    })
    .catch(() => {});
  const text = await tab.$eval('#result', (element) => element.textContent);
  await tab.close();
  return text;
}
try {
  for (const [name, build] of Object.entries(builds)) {
    const built = await build().then(
      () => null,
      (error) => error,
    );
    check(built === null, `${name}: built${built ? ` (${built.message})` : ''}`);
    if (built) continue;
    await cp(example, join(out, name, 'sweep.wav'));
    const server = await serve(join(out, name));
    const text = await shown(`http://127.0.0.1:${server.address().port}/`);
    check(text === want, `${name}: the page converts the example to the native bytes (${text})`);
    server.close();
  }
  // A page that cannot share memory with the worker copies a large array
  // for it, a piece at a time: the aim is no task over 50 ms; this guard is
  // wide, and the check prints the figure.
  const server = await serve(join(out, 'esbuild'));
  const long = await shown(`http://127.0.0.1:${server.address().port}/long.html`);
  const [length, longest] = long.split(' ').map(Number);
  server.close();
  check(
    length === 75_000_000 && longest < 500,
    `an array of 300 MB in a page not isolated: the stream's length and its longest task in ms: ${long}`,
  );
  // Vite's dev server bundles the package away from its programs: with the
  // README's line it converts; as it comes, the failure names the program's
  // URL (Vite 8 converts either way).
  /** @type {[string, import('vite').DepOptimizationOptions, RegExp][]} */
  const devServers = [
    ["Vite's dev server with the README's line", { exclude: ['wav2ima'] }, /^$/],
    ["Vite's dev server as it comes", {}, /wav2ima\.wasm is not a WebAssembly program/],
  ];
  for (const [name, optimizeDeps, pattern] of devServers) {
    const server = await viteServer({
      root: project,
      configFile: false,
      logLevel: 'error',
      server: { port: 0 },
      optimizeDeps,
    });
    await server.listen();
    const text = await shown(server.resolvedUrls?.local[0] ?? 'http://localhost:5173/');
    check(text === want || pattern.test(text), `${name}: ${text}`);
    await server.close();
  }
} finally {
  await browser.close();
}
// An esbuild bundle for node, the programs inside it as bytes.
await esbuild({
  entryPoints: [join(project, 'node-main.js')],
  bundle: true,
  platform: 'node',
  format: 'esm',
  target: 'node20',
  outfile: join(out, 'node/main.mjs'),
  loader: { '.wasm': 'binary' },
  absWorkingDir: project,
  logLevel: 'error',
});
const bundled = run('node', [join(out, 'node/main.mjs'), join(project, 'sweep.wav')], scratch);
check(
  bundled.stdout.trim() === want,
  `esbuild for node: the native bytes (${bundled.stdout.trim() || bundled.stderr})`,
);

await rm(scratch, { recursive: true });
if (failures.length > 0) {
  console.log(`${failures.length} failed`);
  process.exit(1);
}
