// A CommonJS module of a TypeScript project: the package, an ES module,
// reached by import(), as the README says.
export async function convert(wav: Uint8Array): Promise<Uint8Array> {
  const { wav2ima } = await import('wav2ima');
  return wav2ima(wav);
}
