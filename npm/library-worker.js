// The library's worker: it runs the conversions the calling thread asks for,
// one at a time as the library sends them, so that none holds up that
// thread. The build bundles this file into one script (worker-source.js),
// which the library starts as a Worker in browsers and as a worker thread in
// node, so that no bundler needs to know of it. It speaks the protocol of
// jobs.js (share, done, failed); its messages:
//   modules  {modules}  the compiled programs; no answer
//   convert  a run of a program, as convert.js has it
import { convert } from './convert.js';
import { ownPort, serve } from './jobs.js';

/** @type {import('./convert.js').Modules} */
let modules = {};
serve(
  ownPort(),
  {
    modules: (message) => {
      modules = message.modules;
    },
    convert: (message, job) => convert(modules, message, job),
  },
  new Set(['modules']),
);
