"""Finds BFS file systems in disk images, reports them and extracts their files.

bfsscan.scan(image) runs the scan that the bfsscan command runs and yields
its records as dicts, the same that ``bfsscan --json=FILE`` writes, ending
with the "end" record that carries the exit status.
"""

import json
import os

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

    def __init__(self, native):
        self._native = native

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


def scan(image, *, extract_to=None, keep_going=False, preserve=False, format="auto",
         hashes=(), max_output=None, name=None):
    """Scans the image at path image and returns its records (a Scan).

    extract_to: None reads every byte and writes nothing (as ``bfsscan -n``);
    a directory puts the extraction directories there (as ``-C DIR``).
    keep_going, preserve: as -k and -p. format: "auto", "raw", "ewf", "split",
    "vhd", "vhdx", "vmdk" or "qcow". hashes: names among "md5", "sha1",
    "sha256", each file's digests then come in its record. max_output: bytes
    the extraction may write (0: no limit; None: the command's default).
    name: the stem of the extraction directories and the image's name in the
    records (as ``--name``); None: the image's file name.
    """
    if isinstance(hashes, str):
        hashes = (hashes,)
    native = _native.Scan(
        os.fsencode(image),
        format,
        None if extract_to is None else os.fsencode(extract_to),
        bool(keep_going),
        bool(preserve),
        [str(h) for h in hashes],
        max_output,
        "" if name is None else str(name),
    )
    return Scan(native)
