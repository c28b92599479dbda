// The files the worker gives the programs: the chosen file, read in slices
// as the program asks for them, and an output kept as blocks that become a
// Blob without one large copy. The one place that knows about slices, blocks
// and progress, so that a file of any size converts in memory of a few
// blocks.
//
// Of the WASI shim it relies on: Inode and Fd, base classes whose other calls
// answer "not supported"; the `wasi` constants and its Filestat and Fdstat
// records; a PreopenDirectory that calls path_open(oflags, rights, fdflags)
// and stat() on its entries; and the calls fd_read(size), fd_pread(size,
// offset), fd_write(data), fd_pwrite(data, offset), fd_seek(offset, whence),
// fd_tell(), fd_filestat_get(), fd_filestat_set_size(size) and
// fd_fdstat_get() on what path_open returned, offsets as BigInt.
import { Fd, Inode, wasi } from './shim/index.js';

// Bytes taken from the chosen file at once: reading a File ran at 100 MB/s
// in slices of 1 MiB and 260 MB/s in slices of 16 MiB in chromium here.
const kSlice = 16 << 20;
// Bytes of output kept as an array before they become a Blob part: each Blob
// made costs as much as copying megabytes, so 1 GB took 8.8 s in parts of
// 1 MiB, 7.5 s in parts of 4 MiB and 4.3 s in parts of 16 MiB here.
const kBlock = 16 << 20;

// An open file with a position, as the programs use one: they ask what it
// is, how long, and move in it from the start, the position or the end.
class OpenAt extends Fd {
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

  fd_seek(offset, whence) {
    const from = { [wasi.WHENCE_SET]: 0n, [wasi.WHENCE_CUR]: this.position,
      [wasi.WHENCE_END]: this.file.stat().size };
    if (!(whence in from) || from[whence] + offset < 0n) return { ret: wasi.ERRNO_INVAL, offset: 0n };
    this.position = from[whence] + offset;
    return { ret: wasi.ERRNO_SUCCESS, offset: this.position };
  }

  fd_tell() {
    return { ret: wasi.ERRNO_SUCCESS, offset: this.position };
  }
}

// A Blob (a chosen File, or a stream made before) as a read-only file. A read
// that fails (the file changed or vanished since it was chosen, or is a
// folder) is an I/O error to the program and is kept in `failure`.
export class SliceInput extends Inode {
  constructor(blob, onread = () => {}) {
    super();
    this.blob = blob;
    this.onread = onread;
    this.failure = null;
    this.slice = { start: 0, bytes: new Uint8Array(0) };
    this.reader = null;
  }

  stat() {
    return new wasi.Filestat(this.ino, wasi.FILETYPE_REGULAR_FILE, BigInt(this.blob.size));
  }

  path_open(oflags) {
    if (oflags & (wasi.OFLAGS_TRUNC | wasi.OFLAGS_EXCL)) return { ret: wasi.ERRNO_PERM, fd_obj: null };
    return { ret: wasi.ERRNO_SUCCESS, fd_obj: new SliceReader(this) };
  }

  // Up to `size` bytes from `position`: a view of the slice that holds them,
  // read anew when they lie outside it.
  read(position, size) {
    const end = Math.min(position + size, this.blob.size);
    if (position >= end) return new Uint8Array(0);
    let { start, bytes } = this.slice;
    if (position < start || end > start + bytes.length) {
      this.reader ??= new FileReaderSync();
      start = position;
      const sliceEnd = Math.min(this.blob.size, position + Math.max(kSlice, size));
      bytes = new Uint8Array(this.reader.readAsArrayBuffer(this.blob.slice(start, sliceEnd)));
      if (bytes.length !== sliceEnd - start) throw new Error('the file is shorter than it was');
      this.slice = { start, bytes };
    }
    return bytes.subarray(position - start, end - start);
  }
}

class SliceReader extends OpenAt {
  fd_pread(size, offset) {
    try {
      return { ret: wasi.ERRNO_SUCCESS, data: this.file.read(Number(offset), size) };
    } catch (error) {
      this.file.failure ??= error;
      return { ret: wasi.ERRNO_IO, data: new Uint8Array(0) };
    }
  }

  fd_read(size) {
    const read = this.fd_pread(size, this.position);
    this.position += BigInt(read.data.length);
    this.file.onread(Number(this.position));
    return read;
  }
}

// An output file as a list of blocks. The programs write forward and come
// back only to the header at the start (ima2wav's sizes): the first block is
// kept, and each later one becomes a Blob part as soon as it is full, its
// array used again for the next (a Blob takes a copy when it is made).
export class BlockOutput extends Inode {
  constructor(type) {
    super();
    this.type = type;
    this.truncate();
  }

  stat() {
    return new wasi.Filestat(this.ino, wasi.FILETYPE_REGULAR_FILE, BigInt(this.size));
  }

  path_open(oflags, rights, fdflags) {
    if (oflags & wasi.OFLAGS_TRUNC) this.truncate();
    const writer = new BlockWriter(this);
    if (fdflags & wasi.FDFLAGS_APPEND) writer.position = BigInt(this.size);
    return { ret: wasi.ERRNO_SUCCESS, fd_obj: writer };
  }

  truncate() {
    this.head = null;
    this.parts = []; // blocks 1 to n, finished
    this.tail = null; // block n + 1, in progress
    this.size = 0;
  }

  // The array of block `index`, finishing the blocks before it when the
  // output reaches it; null for a block that went out as a Blob part.
  block(index) {
    if (index === 0) return (this.head ??= new Uint8Array(kBlock));
    this.tail ??= new Uint8Array(kBlock);
    while (index > this.parts.length + 1) {
      this.parts.push(new Blob([this.tail]));
      this.tail.fill(0);
    }
    return index === this.parts.length + 1 ? this.tail : null;
  }

  // Writes `data` at `position`; false where that part went out already.
  write(data, position) {
    for (let from = 0; from < data.length;) {
      const at = position + from;
      const block = this.block(Math.floor(at / kBlock));
      if (block === null) return false;
      const count = Math.min(kBlock - (at % kBlock), data.length - from);
      block.set(data.subarray(from, from + count), at % kBlock);
      from += count;
    }
    this.size = Math.max(this.size, position + data.length);
    return true;
  }

  // The whole output: the first block, the parts, and the block in progress.
  blob() {
    const tailStart = (this.parts.length + 1) * kBlock;
    const pieces = [this.head?.subarray(0, Math.min(this.size, kBlock)) ?? new Uint8Array(0),
      ...this.parts];
    if (this.size > tailStart) pieces.push(this.tail.subarray(0, this.size - tailStart));
    return new Blob(pieces, { type: this.type });
  }
}

class BlockWriter extends OpenAt {
  fd_filestat_set_size(size) {
    if (size !== 0n) return wasi.ERRNO_NOTSUP;
    this.file.truncate();
    return wasi.ERRNO_SUCCESS;
  }

  fd_pwrite(data, offset) {
    if (!this.file.write(data, Number(offset))) return { ret: wasi.ERRNO_IO, nwritten: 0 };
    return { ret: wasi.ERRNO_SUCCESS, nwritten: data.length };
  }

  fd_write(data) {
    const written = this.fd_pwrite(data, this.position);
    this.position += BigInt(written.nwritten);
    return written;
  }

  // The runner hands writes over as views of the program's memory, which
  // the block takes its copy of: one copy of each byte, not two.
  writeFrom(view) {
    const { ret, nwritten } = this.fd_write(view);
    return { ret, count: nwritten };
  }
}
