// The files the programs are given by the page and the library: an input
// read in slices as the program asks for them, from wherever its bytes are
// (a Blob, an array read where it is, or the calling thread), and an output
// kept as blocks that become a Blob, or written in place into an array of
// its known length. The one place that knows about slices, blocks and
// progress, so that a file of any size converts in memory of a few blocks.
//
// Of the WASI shim it relies on: Inode and Fd, base classes whose other calls
// answer "not supported"; the `wasi` constants and its Filestat and Fdstat
// records; a PreopenDirectory that calls path_open(oflags, rights, fdflags)
// and stat() on its entries; and the calls fd_read(size), fd_pread(size,
// offset), fd_write(data), fd_pwrite(data, offset), fd_seek(offset, whence),
// fd_tell(), fd_filestat_get(), fd_filestat_set_size(size) and
// fd_fdstat_get() on what path_open returned, offsets as BigInt.
import { Fd, Inode, wasi } from './shim/index.js';

// Bytes taken from a Blob at once: reading a File ran at 100 MB/s in slices
// of 1 MiB and 260 MB/s in slices of 16 MiB in chromium here.
const kSlice = 16 << 20;
// Output blocks start small, so that a small conversion allocates little,
// and double up to the largest: each Blob made costs as much as copying
// megabytes, so 1 GB took 8.8 s in parts of 1 MiB, 7.5 s in parts of 4 MiB
// and 4.3 s in parts of 16 MiB here.
const kFirstBlock = 64 << 10;
const kLargestBlock = 16 << 20;

// An input's bytes: `size`, and `read(position, size)` giving up to `size`
// bytes from `position` (a view, valid until the next read), or throwing
// where they cannot be read.
/** @typedef {{size: number, read(position: number, size: number): Uint8Array}} Source */

/**
 * @param {Blob} blob
 * @returns {Source}
 */
export function blobSource(blob) {
  /** @type {FileReaderSync | null} */
  let reader = null;
  return {
    size: blob.size,
    read(position, size) {
      reader ??= new FileReaderSync();
      const end = Math.min(blob.size, position + Math.max(kSlice, size));
      const bytes = new Uint8Array(reader.readAsArrayBuffer(blob.slice(position, end)));
      if (bytes.length !== end - position) throw new Error('the file is shorter than it was');
      return bytes;
    },
  };
}

// The caller's own array, read where it is. An array whose buffer was
// detached after it was handed over reads as an error in these words.
/**
 * @param {Uint8Array} bytes
 * @returns {Source}
 */
export function bytesSource(bytes) {
  const size = bytes.length;
  return {
    size,
    read(position, wanted) {
      if (bytes.length !== size)
        throw new TypeError("the input's ArrayBuffer was detached during the conversion");
      return bytes.subarray(position, position + wanted);
    },
  };
}

// An open file with a position, as the programs use one: they ask what it
// is, how long, and move in it from the start, the position or the end.
/** @template {{stat(): import('./shim/index.js').wasi.Filestat}} F */
class OpenAt extends Fd {
  /** @param {F} file */
  constructor(file) {
    super();
    this.file = file;
    this.position = 0n;
  }

  fd_fdstat_get() {
    return { ret: wasi.ERRNO_SUCCESS, fdstat: new wasi.Fdstat(wasi.FILETYPE_REGULAR_FILE, 0) };
  }

  fd_filestat_get() {
    return { ret: wasi.ERRNO_SUCCESS, filestat: this.file.stat() };
  }

  /**
   * @param {bigint} offset
   * @param {number} whence
   */
  fd_seek(offset, whence) {
    /** @type {Record<number, bigint>} */
    const from = {
      [wasi.WHENCE_SET]: 0n,
      [wasi.WHENCE_CUR]: this.position,
      [wasi.WHENCE_END]: this.file.stat().size,
    };
    if (!(whence in from) || from[whence] + offset < 0n)
      return { ret: wasi.ERRNO_INVAL, offset: 0n };
    this.position = from[whence] + offset;
    return { ret: wasi.ERRNO_SUCCESS, offset: this.position };
  }

  fd_tell() {
    return { ret: wasi.ERRNO_SUCCESS, offset: this.position };
  }
}

// An input as a read-only file: a Blob (a chosen File, or a stream made
// before), or a source as above. A read that fails (the file changed or
// vanished since it was chosen, or is a folder) is an I/O error to the
// program and is kept in `failure`.
export class SliceInput extends Inode {
  /**
   * @param {Blob | Source} source
   * @param {(position: number) => void} [onread] told where reading stands
   */
  constructor(source, onread = () => {}) {
    super();
    this.source = source instanceof Blob ? blobSource(source) : source;
    this.onread = onread;
    /** @type {unknown} why a read failed, once one has */
    this.failure = null;
    /** @type {{start: number, bytes: Uint8Array}} */
    this.slice = { start: 0, bytes: new Uint8Array(0) };
  }

  stat() {
    return new wasi.Filestat(this.ino, wasi.FILETYPE_REGULAR_FILE, BigInt(this.source.size));
  }

  /** @param {number} oflags */
  path_open(oflags) {
    if (oflags & (wasi.OFLAGS_TRUNC | wasi.OFLAGS_EXCL))
      return { ret: wasi.ERRNO_PERM, fd_obj: null };
    return { ret: wasi.ERRNO_SUCCESS, fd_obj: new SliceReader(this) };
  }

  // Up to `size` bytes from `position`: a view of the slice that holds them,
  // read anew when they lie outside it.
  /**
   * @param {number} position
   * @param {number} size
   */
  read(position, size) {
    const end = Math.min(position + size, this.source.size);
    if (position >= end) return new Uint8Array(0);
    let { start, bytes } = this.slice;
    if (position < start || end > start + bytes.length) {
      start = position;
      bytes = this.source.read(position, size);
      if (bytes.length < Math.min(size, end - position))
        throw new Error('the input is shorter than it was');
      this.slice = { start, bytes };
    }
    return bytes.subarray(position - start, end - start);
  }
}

/** @extends {OpenAt<SliceInput>} */
class SliceReader extends OpenAt {
  /**
   * @param {number} size
   * @param {bigint} offset
   */
  fd_pread(size, offset) {
    try {
      return { ret: wasi.ERRNO_SUCCESS, data: this.file.read(Number(offset), size) };
    } catch (error) {
      this.file.failure ??= error;
      return { ret: wasi.ERRNO_IO, data: new Uint8Array(0) };
    }
  }

  /** @param {number} size */
  fd_read(size) {
    const read = this.fd_pread(size, this.position);
    this.position += BigInt(read.data.length);
    this.file.onread(Number(this.position));
    return read;
  }
}

// An output file as a list of blocks. The programs write forward and come
// back only to the header at the start (ima2wav's sizes): the first block is
// kept, and each later one becomes a Blob part as soon as the next is
// written to (a Blob takes a copy when it is made).
export class BlockOutput extends Inode {
  /** @param {string} type the output's media type */
  constructor(type) {
    super();
    this.type = type;
    /** @type {Uint8Array<ArrayBuffer> | null} */
    this.head = null;
    /** @type {Blob[]} */
    this.parts = [];
    /** @type {Uint8Array<ArrayBuffer> | null} */
    this.tail = null;
    this.tailStart = kFirstBlock;
    this.size = 0;
  }

  stat() {
    return new wasi.Filestat(this.ino, wasi.FILETYPE_REGULAR_FILE, BigInt(this.size));
  }

  /**
   * @param {number} oflags
   * @param {bigint} _rights
   * @param {number} fdflags
   */
  path_open(oflags, _rights, fdflags) {
    return openOutput(this, oflags, fdflags);
  }

  truncate() {
    this.head = null; // the first block, made with the first write
    this.parts = []; // the blocks between the first and the last, finished
    this.tail = null; // the last block, in progress
    this.tailStart = kFirstBlock;
    this.size = 0;
  }

  // The block that holds offset `at`, with its start; blocks before it are
  // finished as the output reaches it; null for a block gone out as a part.
  /** @param {number} at */
  block(at) {
    if (at < kFirstBlock) {
      this.head ??= new Uint8Array(kFirstBlock);
      return { start: 0, bytes: this.head };
    }
    let tail = this.tail ?? new Uint8Array(kFirstBlock * 2);
    while (at >= this.tailStart + tail.length) {
      this.parts.push(new Blob([tail]));
      this.tailStart += tail.length;
      tail = new Uint8Array(Math.min(tail.length * 2, kLargestBlock));
    }
    this.tail = tail;
    return at >= this.tailStart ? { start: this.tailStart, bytes: tail } : null;
  }

  // Writes `data` at `position`; false where that part went out already.
  /**
   * @param {Uint8Array} data
   * @param {number} position
   */
  write(data, position) {
    for (let from = 0; from < data.length; ) {
      const at = position + from;
      const block = this.block(at);
      if (block === null) return false;
      const count = Math.min(block.start + block.bytes.length - at, data.length - from);
      block.bytes.set(data.subarray(from, from + count), at - block.start);
      from += count;
    }
    this.size = Math.max(this.size, position + data.length);
    return true;
  }

  // The whole output as one ArrayBuffer of its length.
  async bytes() {
    if (this.size <= kFirstBlock)
      return this.head?.slice(0, this.size).buffer ?? new ArrayBuffer(0);
    return this.blob().arrayBuffer();
  }

  // The whole output: the first block, the parts, and the block in progress.
  blob() {
    const pieces = [
      this.head?.subarray(0, Math.min(this.size, kFirstBlock)) ?? new Uint8Array(0),
      ...this.parts,
    ];
    if (this.tail !== null && this.size > this.tailStart)
      pieces.push(this.tail.subarray(0, this.size - this.tailStart));
    return new Blob(pieces, { type: this.type });
  }
}

// An output whose length is known before the program runs (ima2wav's, from
// its input's; wav2ima's, from the walk that counts its frames): one array
// of that length, written in place and handed over whole. A write past it
// fails, and `overrun` says so.
export class FixedOutput extends Inode {
  /** @param {number} length */
  constructor(length) {
    super();
    this.bytes = new Uint8Array(length);
    this.size = 0;
    this.overrun = false;
  }

  stat() {
    return new wasi.Filestat(this.ino, wasi.FILETYPE_REGULAR_FILE, BigInt(this.size));
  }

  /**
   * @param {number} oflags
   * @param {bigint} _rights
   * @param {number} fdflags
   */
  path_open(oflags, _rights, fdflags) {
    return openOutput(this, oflags, fdflags);
  }

  truncate() {
    this.size = 0;
  }

  /**
   * @param {Uint8Array} data
   * @param {number} position
   */
  write(data, position) {
    if (position + data.length > this.bytes.length) {
      this.overrun = true;
      return false;
    }
    this.bytes.set(data, position);
    this.size = Math.max(this.size, position + data.length);
    return true;
  }
}

/**
 * @param {BlockOutput | FixedOutput} file
 * @param {number} oflags
 * @param {number} fdflags
 */
function openOutput(file, oflags, fdflags) {
  if (oflags & wasi.OFLAGS_TRUNC) file.truncate();
  const writer = new BlockWriter(file);
  if (fdflags & wasi.FDFLAGS_APPEND) writer.position = BigInt(file.size);
  return { ret: wasi.ERRNO_SUCCESS, fd_obj: writer };
}

/** @extends {OpenAt<BlockOutput | FixedOutput>} */
class BlockWriter extends OpenAt {
  /** @param {bigint} size */
  fd_filestat_set_size(size) {
    if (size !== 0n) return wasi.ERRNO_NOTSUP;
    this.file.truncate();
    return wasi.ERRNO_SUCCESS;
  }

  /**
   * @param {Uint8Array} data
   * @param {bigint} offset
   */
  fd_pwrite(data, offset) {
    if (!this.file.write(data, Number(offset))) return { ret: wasi.ERRNO_IO, nwritten: 0 };
    return { ret: wasi.ERRNO_SUCCESS, nwritten: data.length };
  }

  /** @param {Uint8Array} data */
  fd_write(data) {
    const written = this.fd_pwrite(data, this.position);
    this.position += BigInt(written.nwritten);
    return written;
  }

  // The runner hands writes over as views of the program's memory, which
  // the output takes its copy of: one copy of each byte, not two.
  /** @param {Uint8Array} view */
  writeFrom(view) {
    const { ret, nwritten } = this.fd_write(view);
    return { ret, count: nwritten };
  }
}
