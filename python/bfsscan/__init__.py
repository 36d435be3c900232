"""Finds BFS file systems in disk images, reports them and extracts their files.

bfsscan.scan(image) runs the scan that the bfsscan command runs and yields
its records as dicts, the same that ``bfsscan --json=FILE`` writes, ending
with the "end" record that carries the exit status. It reads what the
command reads: raw images, devices, containers, compressed images, archives
(an "image" record per member), named pipes, "-" for standard input, and
also a readable binary file object, read as a stream as "-" is.
"""

import json
import os
import socket
import threading

from . import _native

__all__ = ["scan", "Scan", "__version__"]

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
    hashes: names among "md5", "sha1", "sha256"; each file's digests then come
    in its record. max_output: bytes the extraction may write (0: no limit;
    None: the command's default). max_image: bytes a compressed or piped
    image may decode to (0: no limit; None: the default, 16 TiB). Any other
    keyword is a TypeError.
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
