export * from '@bjorn3/browser_wasi_shim';
