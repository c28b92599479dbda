// What the package's and the page's JavaScript meets that the DOM's
// declarations leave out: a worker's own names, and the programs a bundler
// hands over (programs.js).
declare class FileReaderSync {
  readAsArrayBuffer(blob: Blob): ArrayBuffer;
}
declare var WorkerGlobalScope: unknown;
declare module '*.wasm' {
  const program: unknown;
  export default program;
}
