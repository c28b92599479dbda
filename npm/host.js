// The host's descriptors and file system as files of the WASI shim, for the
// commands under node. The program is given the descriptors the command was
// given, under their own numbers, and uses them as they are: at their own
// position, in their own mode, never opened again. Every name it opens goes
// to the kernel whole, so that it means what it means to a native program
// (`..` after a symbolic link, links to folders, hard links).
//
// node has no lseek and no fcntl. Where a given descriptor stands and
// whether it appends are read from /proc/self/fdinfo (Linux); where that is
// missing, a given descriptor is read and written in order and never sought,
// as a pipe is, and only 0, 1 and 2 are given.
import fs from 'node:fs';
import tty from 'node:tty';
import { Fd, wasi } from './shim/index.js';

const { O_RDONLY, O_WRONLY, O_RDWR, O_CREAT, O_EXCL, O_TRUNC, O_APPEND, O_DIRECTORY } =
  fs.constants;
// Not on Windows: there 0 adds nothing.
const O_NOCTTY = fs.constants.O_NOCTTY ?? 0;
const kAccessMode = 3;
// WASI's lookup flag for a name that is a link: the link's target (the
// shim names no lookup flags).
const kLookupSymlinkFollow = 1;
const kAppendFlag = 0o2000; // O_APPEND as /proc/self/fdinfo writes it, in octal

// The kernel's error as the program's errno: the WASI constant of the same
// name; an error WASI has no name for is an I/O error.
/** @param {unknown} error */
function errnoOf(error) {
  const code = /** @type {{code?: unknown} | null} */ (error)?.code;
  const name = typeof code === 'string' ? `ERRNO_${code.slice(1)}` : '';
  const errno = /** @type {Record<string, unknown>} */ (wasi)[name];
  return typeof errno === 'number' ? errno : wasi.ERRNO_IO;
}

// A call the kernel may interrupt, tried again as the C library would.
/**
 * @template T
 * @param {() => T} call
 * @returns {T}
 */
function uninterrupted(call) {
  for (;;) {
    try {
      return call();
    } catch (error) {
      if (/** @type {{code?: unknown} | null} */ (error)?.code !== 'EINTR') throw error;
    }
  }
}

// The file systems that make a file's bytes as they are read and vouch for
// no length (procfs, sysfs and their kin, by their magic numbers): their
// files are given no type, so that the program counts their length as
// unknown, as the native one does, and reads nothing to find it out.
const kPseudoFileSystems = new Set([
  0x9fa0, 0x62656572, 0x64626720, 0x74726163, 0x73636673, 0x27e0eb, 0x63677270,
]);
/** @param {string} path */
function pseudo(path) {
  try {
    return kPseudoFileSystems.has(fs.statfsSync(path).type);
  } catch {
    return false;
  }
}

/**
 * @param {fs.Stats | fs.BigIntStats} stats
 * @param {string | null} [path]
 */
function filetypeOf(stats, path = null) {
  if (stats.isFile())
    return path !== null && pseudo(path) ? wasi.FILETYPE_UNKNOWN : wasi.FILETYPE_REGULAR_FILE;
  if (stats.isDirectory()) return wasi.FILETYPE_DIRECTORY;
  if (stats.isBlockDevice()) return wasi.FILETYPE_BLOCK_DEVICE;
  if (stats.isSocket()) return wasi.FILETYPE_SOCKET_STREAM;
  if (stats.isCharacterDevice()) return wasi.FILETYPE_CHARACTER_DEVICE;
  return wasi.FILETYPE_UNKNOWN; // a pipe: WASI has no type for it
}

// The shim's Filestat writes its times over the size's high bytes and no
// device: this one is laid out as WASI has it, with the kernel's device and
// inode, which tell the program that two names are one file.
class Filestat extends wasi.Filestat {
  /**
   * @param {fs.BigIntStats} stats
   * @param {number} filetype
   */
  constructor(stats, filetype) {
    super(stats.ino, filetype, stats.size);
    this.dev = stats.dev;
    this.nlink = stats.nlink;
  }

  /**
   * @param {DataView} view
   * @param {number} at
   */
  write_bytes(view, at) {
    view.setBigUint64(at, this.dev, true);
    view.setBigUint64(at + 8, this.ino, true);
    view.setUint8(at + 16, this.filetype);
    view.setBigUint64(at + 24, this.nlink, true);
    view.setBigUint64(at + 32, this.size, true);
    for (const time of [40, 48, 56]) view.setBigUint64(at + time, 0n, true);
  }
}

// Answers the C library's scan for preopened folders, which runs from
// descriptor 3 up and stops at the first closed one, for a descriptor that
// is no folder: a preopen of a kind it does not know, which it skips.
class NotAFolder extends wasi.Prestat {
  /**
   * @param {DataView} view
   * @param {number} at
   */
  write_bytes(view, at) {
    view.setUint8(at, wasi.PREOPENTYPE_DIR + 1);
  }
}
const kNotAFolder = new NotAFolder();

// One host descriptor. `own` when the runner opened it for the program (and
// closes it with the program's close); a descriptor the command was given
// stays open. `position` is where the program stands in it; `kernel`, where
// the descriptor itself stands: reads and writes at the kernel's offset move
// it, as the native program's would, and those elsewhere (ima2wav going back
// to its header) leave it, so that a writer after the command goes on after
// the stream. Both are null where neither can be known (a pipe).
/**
 * @typedef {object} Given
 * @property {boolean} readable
 * @property {boolean} writable
 * @property {boolean} appends
 * @property {number | null} position
 * @property {boolean} own
 * @property {string | null} path
 */
export class HostFile extends Fd {
  /**
   * @param {number} descriptor
   * @param {Given} given
   */
  constructor(descriptor, { readable, writable, appends, position, own, path }) {
    super();
    const stats = fs.fstatSync(descriptor, { bigint: true });
    this.descriptor = descriptor;
    this.filetype = filetypeOf(stats, path);
    this.terminal = this.filetype === wasi.FILETYPE_CHARACTER_DEVICE && tty.isatty(descriptor);
    this.seekable = position !== null && (stats.isFile() || stats.isBlockDevice());
    this.readable = readable;
    this.writable = writable;
    this.appends = appends;
    this.own = own;
    this.position = this.seekable ? position : null;
    this.kernel = this.position;
  }

  fd_fdstat_get() {
    let rights = 0n;
    if (this.readable) rights |= BigInt(wasi.RIGHTS_FD_READ);
    if (this.writable) rights |= BigInt(wasi.RIGHTS_FD_WRITE | wasi.RIGHTS_FD_FILESTAT_SET_SIZE);
    if (this.seekable) rights |= BigInt(wasi.RIGHTS_FD_SEEK | wasi.RIGHTS_FD_TELL);
    // The C library calls a character device without seek and tell a terminal.
    if (this.filetype === wasi.FILETYPE_CHARACTER_DEVICE && !this.terminal) {
      rights |= BigInt(wasi.RIGHTS_FD_SEEK | wasi.RIGHTS_FD_TELL);
    }
    const fdstat = new wasi.Fdstat(this.filetype, this.appends ? wasi.FDFLAGS_APPEND : 0);
    fdstat.fs_rights_base = rights;
    return { ret: wasi.ERRNO_SUCCESS, fdstat };
  }

  fd_filestat_get() {
    /** @type {() => {ret: number, filestat: Filestat | null}} */
    const call = () => {
      const stats = fs.fstatSync(this.descriptor, { bigint: true });
      return { ret: wasi.ERRNO_SUCCESS, filestat: new Filestat(stats, this.filetype) };
    };
    return this.#call(call, { filestat: null });
  }

  fd_prestat_get() {
    return { ret: wasi.ERRNO_SUCCESS, prestat: kNotAFolder };
  }

  /** @param {bigint} size */
  fd_filestat_set_size(size) {
    return this.#call(() => {
      fs.ftruncateSync(this.descriptor, Number(size));
      return { ret: wasi.ERRNO_SUCCESS };
    }, {}).ret;
  }

  /**
   * @param {bigint} offset
   * @param {number} whence
   */
  fd_seek(offset, whence) {
    if (!this.seekable) return { ret: wasi.ERRNO_SPIPE, offset: 0n };
    return this.#call(
      () => {
        /** @type {bigint | undefined} */
        const base = /** @type {Record<number, bigint>} */ ({
          [wasi.WHENCE_SET]: 0n,
          [wasi.WHENCE_CUR]: BigInt(this.position ?? 0),
          [wasi.WHENCE_END]: fs.fstatSync(this.descriptor, { bigint: true }).size,
        })[whence];
        if (base === undefined || base + offset < 0n) return { ret: wasi.ERRNO_INVAL, offset: 0n };
        this.position = Number(base + offset);
        return { ret: wasi.ERRNO_SUCCESS, offset: base + offset };
      },
      { offset: 0n },
    );
  }

  fd_tell() {
    return this.fd_seek(0n, wasi.WHENCE_CUR);
  }

  // One byte at an offset, the position left alone (a file that says it is
  // empty may hold bytes).
  /**
   * @param {number} size
   * @param {bigint} offset
   */
  fd_pread(size, offset) {
    if (!this.seekable) return { ret: wasi.ERRNO_SPIPE, data: new Uint8Array(0) };
    const data = new Uint8Array(size);
    return this.#call(
      () => {
        const count = uninterrupted(() => fs.readSync(this.descriptor, data, 0, size, offset));
        return { ret: wasi.ERRNO_SUCCESS, data: data.subarray(0, count) };
      },
      { data: new Uint8Array(0) },
    );
  }

  /** @param {number} size */
  fd_read(size) {
    const data = new Uint8Array(size);
    const { ret, count } = this.readInto(data);
    return { ret, data: data.subarray(0, count) };
  }

  /** @param {Uint8Array} data */
  fd_write(data) {
    const { ret, count } = this.writeFrom(data);
    return { ret, nwritten: count };
  }

  // Reads into `view` (the program's own memory), as the kernel reads.
  /** @param {Uint8Array} view */
  readInto(view) {
    return this.#call(
      () => {
        const at = this.#offset();
        const count = uninterrupted(() => fs.readSync(this.descriptor, view, 0, view.length, at));
        this.#moved(at, count);
        return { ret: wasi.ERRNO_SUCCESS, count };
      },
      { count: 0 },
    );
  }

  // Writes `view` (the program's own memory), as the kernel writes.
  /** @param {Uint8Array} view */
  writeFrom(view) {
    return this.#call(
      () => {
        const at = this.appends ? null : this.#offset();
        const count = uninterrupted(() => fs.writeSync(this.descriptor, view, 0, view.length, at));
        this.#moved(at, count);
        return { ret: wasi.ERRNO_SUCCESS, count };
      },
      { count: 0 },
    );
  }

  fd_close() {
    if (this.own) fs.closeSync(this.descriptor);
    return wasi.ERRNO_SUCCESS;
  }

  // null (the kernel's own offset) where the program stands there or where
  // nothing can be sought; the program's position elsewhere.
  #offset() {
    return this.position === this.kernel ? null : this.position;
  }

  /**
   * @param {number | null} at
   * @param {number} count
   */
  #moved(at, count) {
    if (this.position === null || this.kernel === null) return;
    if (at === null) this.kernel += count;
    this.position += count;
  }

  /**
   * @template {{ret: number}} T
   * @param {() => T} work
   * @param {Omit<T, 'ret'>} failed what the call answers beside its errno when it fails
   * @returns {T}
   */
  #call(work, failed) {
    try {
      return work();
    } catch (error) {
      return /** @type {T} */ ({ ...failed, ret: errnoOf(error) });
    }
  }
}

// The path the kernel is given for one the program opens under the root
// ("/", which the C library strips), or null for one it must not be given.
// POSIX: the same path from the root. Windows, where the runner names the
// working directory `/C:/...`: a path that begins with its drive and holds
// no other drive, stream or root (`C:\x`, `\\server\x` or `\x` after the
// working directory, which the C library takes for relative names), since
// Windows would read those as other files. And null for a path that arrived
// with bytes that were not UTF-8, which no longer names its file.
/**
 * @param {string} path
 * @param {string} [platform]
 */
export function hostPath(path, platform = process.platform) {
  if (path.includes('\uFFFD')) return null;
  if (platform !== 'win32') return `/${path}`;
  return /^[A-Za-z]:(\/|$)/.test(path) && !/[\\/]{2}|:/.test(path.slice(2)) ? path : null;
}

// The working directory as the program is told it (in PWD): the path under
// the root that hostPath maps back to `cwd`.
/**
 * @param {string} cwd
 * @param {string} [platform]
 */
export function workingDirectoryName(cwd, platform = process.platform) {
  return platform === 'win32' ? `/${cwd.replaceAll('\\', '/').replace(/\/$/, '')}` : cwd;
}

// The host's file system as the program's one preopened folder, "/".
export class HostRoot extends Fd {
  fd_prestat_get() {
    return { ret: wasi.ERRNO_SUCCESS, prestat: wasi.Prestat.dir('/') };
  }

  fd_fdstat_get() {
    // Files opened in it may be read and written; the folder itself is not
    // to be read or written as a file (the C library's F_GETFL says so when
    // a descriptor name falls on it).
    const everything = (1n << 29n) - 1n;
    const fdstat = new wasi.Fdstat(wasi.FILETYPE_DIRECTORY, 0);
    fdstat.fs_rights_base =
      everything & ~BigInt(wasi.RIGHTS_FD_READ | wasi.RIGHTS_FD_WRITE | wasi.RIGHTS_FD_READDIR);
    fdstat.fs_rights_inherited = everything;
    return { ret: wasi.ERRNO_SUCCESS, fdstat };
  }

  /**
   * @param {number} flags
   * @param {string} path
   */
  path_filestat_get(flags, path) {
    const host = hostPath(path);
    if (host === null) return { ret: wasi.ERRNO_NOENT, filestat: null };
    try {
      const follow = (flags & kLookupSymlinkFollow) !== 0;
      const stats = (follow ? fs.statSync : fs.lstatSync)(host, { bigint: true });
      return { ret: wasi.ERRNO_SUCCESS, filestat: new Filestat(stats, filetypeOf(stats)) };
    } catch (error) {
      return { ret: errnoOf(error), filestat: null };
    }
  }

  /**
   * @param {number} _dirflags
   * @param {string} path
   * @param {number} oflags
   * @param {bigint} rights
   * @param {bigint} _inheriting
   * @param {number} fdflags
   */
  path_open(_dirflags, path, oflags, rights, _inheriting, fdflags) {
    const host = hostPath(path);
    if (host === null) return { ret: wasi.ERRNO_NOENT, fd_obj: null };
    const readable = (rights & BigInt(wasi.RIGHTS_FD_READ | wasi.RIGHTS_FD_READDIR)) !== 0n;
    const writable = (rights & BigInt(wasi.RIGHTS_FD_WRITE)) !== 0n;
    let flags = readable && writable ? O_RDWR : writable ? O_WRONLY : O_RDONLY;
    if (oflags & wasi.OFLAGS_CREAT) flags |= O_CREAT;
    if (oflags & wasi.OFLAGS_EXCL) flags |= O_EXCL;
    if (oflags & wasi.OFLAGS_TRUNC) flags |= O_TRUNC;
    if (oflags & wasi.OFLAGS_DIRECTORY) flags |= O_DIRECTORY;
    const appends = (fdflags & wasi.FDFLAGS_APPEND) !== 0;
    if (appends) flags |= O_APPEND;
    // A terminal opened as an output does not become the command's own.
    if (writable) flags |= O_NOCTTY;
    let descriptor = -1;
    try {
      descriptor = uninterrupted(() => fs.openSync(host, flags, 0o666));
      const fd_obj = new HostFile(descriptor, {
        readable,
        writable,
        appends,
        position: 0,
        own: true,
        path: host,
      });
      return { ret: wasi.ERRNO_SUCCESS, fd_obj };
    } catch (error) {
      if (descriptor >= 0) fs.closeSync(descriptor);
      return { ret: errnoOf(error), fd_obj: null };
    }
  }
}

// What /proc says of one descriptor: where it stands and its flags, or null
// where the system has no such file.
/** @param {number} descriptor */
function fdinfo(descriptor) {
  try {
    const text = fs.readFileSync(`/proc/self/fdinfo/${descriptor}`, 'utf8');
    const position = /^pos:\s*(\d+)/m.exec(text);
    const flags = /^flags:\s*([0-7]+)/m.exec(text);
    if (position === null || flags === null) return null;
    return { position: Number(position[1]), flags: Number.parseInt(flags[1], 8) };
  } catch {
    return null;
  }
}

// node's own descriptors, which the command was not given: its event loop's
// (anonymous inodes) and the pipes whose two ends it holds.
/** @param {Map<number, string>} links */
function nodesOwn(links) {
  /** @type {Map<string, Set<number>>} */
  const ends = new Map();
  for (const [descriptor, link] of links) {
    if (!link.startsWith('pipe:')) continue;
    const access = (fdinfo(descriptor)?.flags ?? 0) & kAccessMode;
    ends.set(link, (ends.get(link) ?? new Set()).add(access));
  }
  return new Set(
    [...links]
      .filter(
        ([descriptor, link]) =>
          descriptor > 2 && (link.startsWith('anon_inode:') || (ends.get(link)?.size ?? 0) > 1),
      )
      .map(([descriptor]) => descriptor),
  );
}

// The numbers of the descriptors the command was given: 0, 1 and 2 (node
// opens the null device on any that was closed), and on Linux every other
// one that is open and not node's own.
function givenNumbers() {
  let names;
  try {
    names = fs.readdirSync('/proc/self/fd');
  } catch {
    return [0, 1, 2];
  }
  const links = new Map();
  for (const name of names) {
    try {
      const link = fs.readlinkSync(`/proc/self/fd/${name}`);
      // The listing's own descriptor, closed by now.
      if (link !== `/proc/${process.pid}/fd`) links.set(Number(name), link);
    } catch {
      /* closed since it was listed */
    }
  }
  const own = nodesOwn(links);
  return [...new Set([0, 1, 2, ...links.keys()])]
    .filter((fd) => !own.has(fd))
    .sort((a, b) => a - b);
}

// The program's descriptor table: each descriptor the command was given
// under its own number, and the host's root as the preopened folder in the
// first free number from 3, where the C library's scan finds it.
export function hostDescriptors() {
  const fds = [];
  for (const descriptor of givenNumbers()) {
    const info = fdinfo(descriptor);
    const access = info === null ? null : info.flags & kAccessMode;
    try {
      fds[descriptor] = new HostFile(descriptor, {
        readable: access === null || access === O_RDONLY || access === O_RDWR,
        writable: access === null || access === O_WRONLY || access === O_RDWR,
        appends: info !== null && (info.flags & kAppendFlag) !== 0,
        position: info?.position ?? null,
        own: false,
        path: info === null ? null : `/proc/self/fd/${descriptor}`,
      });
    } catch {
      /* closed, or closed since it was listed */
    }
  }
  let root = 3;
  while (fds[root] !== undefined) root++;
  fds[root] = new HostRoot();
  return fds;
}
