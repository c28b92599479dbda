// The library's worker as one script, which the build makes (embed-worker.mjs).
declare const source: string;
export default source;
