// Names made safe for downloads and zip entries, as each system would
// refuse or misread them.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { madeName, NameSet } from './names.js';

test('a made name is safe on every system', () => {
  const rows = [
    ['take.wav', 'take.ima'],
    ['.wav', 'stream.ima'],
    ['..\\..\\evil.wav', '_.._evil.ima'],
    ['a:b*c?"d|e.wav', 'a_b_c__d_e.ima'],
    ['new\nline\u007f.wav', 'newline.ima'],
    ['CON.wav', '_CON.ima'],
    ['lpt1.x.wav', '_lpt1.x.ima'],
    ['trailing. .wav', 'trailing.ima'],
    ['music/..hidden/x.wav', 'music/hidden/x.ima'],
    [`${'é'.repeat(150)}.wav`, `${'é'.repeat(100)}.ima`],
  ];
  for (const [input, want] of rows)
    assert.equal(madeName(input, '.ima'), want, JSON.stringify(input));
});

test('names are unique whatever their case', () => {
  const names = new NameSet();
  assert.deepEqual(
    ['a.ima', 'A.ima', 'a.ima', 'f/a.ima', 'noext'].map((name) => names.claim(name)),
    ['a.ima', 'A-2.ima', 'a-3.ima', 'f/a.ima', 'noext'],
  );
});
