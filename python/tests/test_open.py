"""bfsscan.open(): the file systems and files a listing finds, and their
bytes read, and seeked in, as the command extracts them."""

import datetime
import io
import os
import subprocess

import pytest

import bfsscan

MKBFS = os.environ["MKBFS_BIN"]


@pytest.fixture
def image(tmp_path):
    big = bytes((i * 7 + i // 251) % 256 for i in range(70000))
    (tmp_path / "big.bin").write_bytes(big)
    (tmp_path / "notes").write_bytes(b"hello\n")
    img = tmp_path / "d.img"
    subprocess.run([MKBFS, "--free-blocks", "8", "--mtime=notes=2024-03-01T09:30:00Z",
                    "--mode=640", str(img), str(tmp_path / "big.bin"), str(tmp_path / "notes")],
                   check=True, stdout=subprocess.DEVNULL)
    # in the free blocks of the first
    subprocess.run([MKBFS, "--at", str(141 * 512), str(img), str(tmp_path / "notes")],
                            check=True, stdout=subprocess.DEVNULL)
    return img, big


def test_files_read_and_seek_as_extracted(image):
    img, big = image
    with bfsscan.open(img) as opened:
        systems = opened.file_systems
        assert [(s.offset, s.inside, s.inode_count) for s in systems] == [(0, None, 5),
                                                                            (72192, 0, 4)]
        big_file, notes = systems[0].files
        assert (big_file.name, big_file.path, big_file.inode, big_file.length) == (
            "big.bin", "d-0/big.bin", 3, 70000)
        assert notes.mtime == datetime.datetime(2024, 3, 1, 9, 30, tzinfo=datetime.timezone.utc)
        assert notes.mode == 0o100640
        assert big_file.read() == big
        reader = big_file.open()
        assert isinstance(reader, io.RawIOBase)
        for where, whence, n, expected in [(65000, io.SEEK_SET, 100, big[65000:65100]),
                                           (-10, io.SEEK_END, 100, big[-10:]),
                                           (5, io.SEEK_SET, 0, b""),
                                           (80000, io.SEEK_SET, 10, b"")]:
            reader.seek(where, whence)
            assert reader.read(n) == expected
        assert io.BufferedReader(big_file.open()).read() == big
        assert systems[1].file(3).read() == b"hello\n"


def test_damage_is_said_for_the_file_concerned(image):
    img, _ = image
    with bfsscan.open(img, offset=141 * 512) as opened:
        (one,) = opened.file_systems
        with pytest.raises(bfsscan.FileError, match="inode 2 is a directory"):
            one.file(2).read()
        with pytest.raises(bfsscan.FileError, match="no inode 9"):
            one.file(9)
        assert one.file(3).read() == b"hello\n"
    with pytest.raises(bfsscan.FileError, match="no file system at 512"):
        bfsscan.open(img, offset=512)
