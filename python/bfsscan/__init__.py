"""Finds BFS file systems in disk images, reports them and extracts their files.

bfsscan.scan(image) runs the scan that the bfsscan command runs and yields
its records as dicts, the same that ``bfsscan --json=FILE`` writes, ending
with the "end" record that carries the exit status. It reads what the
command reads: raw images, devices, containers, compressed images, archives
(an "image" record per member), named pipes, "-" for standard input, and
also a readable binary file object, read as a stream as "-" is.

bfsscan.open(image) finds the file systems without reading any file's bytes
and reads the files on demand: ``with bfsscan.open("disk.img") as img:
img.file_systems[0].file(3).read()``.
"""

import datetime
import io
import json
import os
import socket
import threading

from . import _native

__all__ = ["scan", "Scan", "open", "OpenImage", "FileSystem", "File", "FileError",
           "ImageError", "__version__"]

# A file that cannot be read (no such inode, not a regular file, bytes past
# the end of the image or unreadable), or no file system at an offset.
FileError = _native.FileError
# The image cannot be opened or read.
ImageError = _native.ImageError

__version__ = _native.version()


class Scan:
    """The records of one scan, as an iterator of dicts.

    The scan runs in a thread of its own, outside the interpreter's lock, a
    bounded number of records ahead of the reader. close() (also on leaving
    a ``with`` block, on an exception raised while waiting for a record, or
    when the object is collected) asks the scan to stop and waits for it: the
    file it was copying is removed and what was already extracted stays.
    """

    def __init__(self, native, feeder=None):
        self._native = native
        self._feeder = feeder

    def __iter__(self):
        return self

    def __next__(self):
        native = self._native
        if native is None:
            raise StopIteration
        try:
            line = native.next_line()
        except BaseException:
            self.close()
            raise
        if line is None:
            self.close()
            if self._feeder is not None and self._feeder.failure is not None:
                raise self._feeder.failure
            raise StopIteration
        return json.loads(line)

    def close(self):
        native, self._native = self._native, None
        if native is not None:
            native.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False


class _Feeder(threading.Thread):
    """Copies a file object into the scan's stream, a piece at a time (the
    scan holds at most a socket buffer of it); ends when the file does, or
    when the scan stops reading. An exception raised by the file object is
    kept and raised by the iterator after the scan's last record."""

    def __init__(self, source, fd):
        super().__init__(name="bfsscan-feeder", daemon=True)
        self._source = source
        self._socket = socket.socket(fileno=fd)
        self.failure = None

    def run(self):
        try:
            with self._socket:
                while True:
                    piece = self._source.read(1 << 20)
                    if not piece:
                        break
                    self._socket.sendall(piece, socket.MSG_NOSIGNAL)
        except (BrokenPipeError, ConnectionResetError):
            pass  # the scan stopped reading
        except BaseException as failure:  # noqa: B902 - handed to the reader
            self.failure = failure


def scan(image, **options):
    """Scans image and returns its records (a Scan).

    image: a path (str, bytes or os.PathLike; "-" is standard input), read
    as the command reads it, or a readable binary file object (an open
    file, gzip.open(...), tarfile's extractfile(...), sys.stdin.buffer),
    read as a stream through the spool, as "-" is.

    Keywords, as the command's options: extract_to: None reads every byte
    and writes nothing (as ``bfsscan -n``); a directory puts the extraction
    directories there (as ``-C DIR``). keep_going, preserve: as -k and -p.
    deleted, unallocated: as --deleted and --unallocated. format: "auto",
    "raw", "ewf", "split", "vhd", "vhdx", "vmdk", "qcow", a compression
    ("gzip", "xz", "lzma", "zstd", "bzip2", "lz4", "lzip", "compress") or an
    archive ("tar", "zip", "7zip", "cpio", "iso9660", "ar", "xar", "rar").
    hashes: names among "md5", "sha1", "sha256" (one name may be given as a
    string: hashes="md5"); each file's digests then come in its record. max_output: bytes the extraction may write (0: no limit;
    None: the command's default). max_image: bytes a compressed or piped
    image may decode to (0: no limit; None: in proportion to the input, as
    the command's default). name: the stem of the extraction directories and
    the image's name in the records (as ``--name``); None: the image's file
    name. Any other keyword is a TypeError.
    """
    if options.get("extract_to") is not None:
        options["extract_to"] = os.fsencode(options["extract_to"])
    if isinstance(options.get("hashes"), str):
        options["hashes"] = (options["hashes"],)
    if hasattr(image, "read") and not isinstance(image, (str, bytes, os.PathLike)):
        native = _native.Scan(None, options)
        feeder = _Feeder(image, native.take_feed())
        feeder.start()
        return Scan(native, feeder)
    return Scan(_native.Scan(os.fsencode(image), options))


def _utc(seconds):
    return datetime.datetime.fromtimestamp(seconds, datetime.timezone.utc)


class File:
    """One file of a file system: its inode's fields and its bytes.

    name and path are str (bytes that are not UTF-8 kept as surrogates, as
    os.fsdecode does); path is where extraction would put it, relative
    (None when extraction would leave it out). mtime, atime and ctime are
    datetime objects in UTC; extent is (first block, last block) and
    image_offset the image offset of the first byte.
    """

    def __init__(self, file_system, fields):
        self._fs = file_system
        self.inode = fields["ino"]
        self.slot = fields["slot"]
        self.name = os.fsdecode(fields["name"])
        path = fields.get("path")
        self.path = None if path is None else os.fsdecode(path)
        self.length = fields["length"]
        self.mode = fields["mode"]
        self.uid = fields["uid"]
        self.gid = fields["gid"]
        self.mtime = _utc(fields["mtime"])
        self.atime = _utc(fields["atime"])
        self.ctime = _utc(fields["ctime"])
        self.extent = (fields["first_block"], fields["last_block"])
        self.image_offset = fields["image_offset"]

    def __repr__(self):
        return "<bfsscan.File %r inode %d of the file system at %d>" % (
            self.name, self.inode, self._fs.offset)

    def _native(self):
        return self._fs._native_fs().file(self.slot, False)

    def read(self):
        """The file's bytes, as extraction writes them (raises FileError)."""
        native = self._native()
        return native.read(0, self.length)

    def open(self):
        """A seekable binary file object reading the image on demand."""
        return _FileReader(self._native(), self.length)


class _FileReader(io.RawIOBase):
    def __init__(self, native, length):
        super().__init__()
        self._file = native
        self._length = length
        self._pos = 0

    def readable(self):
        return True

    def seekable(self):
        return True

    def readinto(self, buffer):
        view = memoryview(buffer).cast("B")
        data = self._file.read(self._pos, len(view))
        view[:len(data)] = data
        self._pos += len(data)
        return len(data)

    def seek(self, offset, whence=io.SEEK_SET):
        if whence == io.SEEK_SET:
            pos = offset
        elif whence == io.SEEK_CUR:
            pos = self._pos + offset
        elif whence == io.SEEK_END:
            pos = self._length + offset
        else:
            raise ValueError("invalid whence %r" % (whence,))
        if pos < 0:
            raise ValueError("negative seek position %d" % pos)
        self._pos = pos
        return pos

    def tell(self):
        return self._pos


class FileSystem:
    """One file system: offset (bytes into the image), inside (the offset of
    the file system holding it, or None), inode_count (slots, as the
    superblock gives them), files (the files a listing finds) and
    file(inode)."""

    def __init__(self, image, offset, end, slot_count, inside):
        self._image = image
        self.offset = offset
        self.end = end
        self.inode_count = slot_count
        self.inside = inside
        self.files = []
        self._fs = None

    def __repr__(self):
        return "<bfsscan.FileSystem at %d, %d files>" % (self.offset, len(self.files))

    def _native_fs(self):
        if self._fs is None:
            self._fs = self._image._opened().file_system(self.offset)
        return self._fs

    def file(self, inode):
        """The file of inode number inode (raises FileError)."""
        fields = self._native_fs().file(inode, False).info()
        names = fields["names"]
        fields["name"] = names[0] if names else b""
        return File(self, fields)


class OpenImage:
    """An image opened by bfsscan.open(); close() (or leaving a with block)
    closes it."""

    def __init__(self, image, format, offset):
        self._native = _native.Opened(os.fsencode(image), format)
        self._offset = offset
        self._file_systems = None
        self.problems = []
        if offset is not None:
            self._native.file_system(offset)  # raises FileError when none is there

    def _opened(self):
        if self._native is None:
            raise ValueError("the image is closed")
        return self._native

    @property
    def file_systems(self):
        """The file systems found (only the one at offset, when given)."""
        if self._file_systems is None:
            systems, files, problems = self._opened().list(self._offset)
            self.problems = problems
            result, by_offset, holders = [], {}, []
            for s in systems:
                while holders and s["offset"] > holders[-1].offset + holders[-1].end:
                    holders.pop()
                fs = FileSystem(self, s["offset"], s["end"], s["slot_count"],
                                holders[-1].offset if holders else None)
                holders.append(fs)
                result.append(fs)
                by_offset.setdefault(fs.offset, fs)
            for f in files:
                fs = by_offset.get(f["fs"])
                if fs is not None:
                    fs.files.append(File(fs, f))
            self._file_systems = result
        return self._file_systems

    def close(self):
        self._native = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False


def open(image, *, format="auto", offset=None):
    """Opens the image at path image for bfsscan's file systems and files.

    format: as for scan(). offset: the byte offset of one file system to
    open without scanning the rest of the image (FileError when there is
    none). Nothing is read until file_systems or a file is asked for.
    """
    return OpenImage(image, format, offset)
