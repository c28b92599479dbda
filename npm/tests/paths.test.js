// The commands' names as the kernel gets them, on POSIX and on Windows (no
// Windows node runs here: the path logic is tested as Windows would call it).
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { load } from './package.js';

const { hostPath, workingDirectoryName } = await load('host.js');

test('a name under the root reaches the kernel whole, or not at all', () => {
  const rows = [
    ['posix', 'work/lnk/../a.wav', '/work/lnk/../a.wav'],
    ['posix', '', '/'],
    ['posix', 'bad\uFFFDbyte.wav', null],
    ['win32', 'C:/Users/me/a.wav', 'C:/Users/me/a.wav'],
    ['win32', 'C:/Users/me/..\\music\\a.wav', 'C:/Users/me/..\\music\\a.wav'],
    ['win32', 'C:', 'C:'],
    ['win32', 'dev/stdin', null],
    ['win32', 'C:/Users/me/D:\\music\\a.wav', null],
    ['win32', 'C:/Users/me/\\\\server\\share\\a.wav', null],
    ['win32', 'C:/Users/me/\\music\\a.wav', null],
    ['win32', 'C:/Users/me/a.wav:stream', null],
  ];
  for (const [platform, path, want] of rows)
    assert.equal(hostPath(path, platform), want, `${platform} ${path}`);
});

test('a relative name resolves against the working directory', () => {
  // The C library joins the working directory it was told and the name,
  // and strips the root's slash before the runner sees the path.
  /** @type {(cwd: string, name: string, platform: string) => string | null} */
  const joined = (cwd, name, platform) =>
    hostPath(`${workingDirectoryName(cwd, platform)}/${name}`.slice(1), platform);
  assert.equal(joined('C:\\Users\\me', 'a.wav', 'win32'), 'C:/Users/me/a.wav');
  assert.equal(joined('C:\\', 'a.wav', 'win32'), 'C:/a.wav');
  assert.equal(joined('/home/me', 'a.wav', 'posix'), '/home/me/a.wav');
});
