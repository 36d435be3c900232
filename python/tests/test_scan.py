"""The module's records against the command's JSON Lines, extraction,
stopping from the consumer, and scans in two threads at once."""

import hashlib
import json
import os
import subprocess
import threading

import pytest

import bfsscan

BFSSCAN = os.environ["BFSSCAN_BIN"]
MKBFS = os.environ["MKBFS_BIN"]


def mkbfs(image, files, at=None):
    args = [MKBFS] + (["--at", str(at)] if at is not None else []) + [str(image)]
    subprocess.run(args + [str(f) for f in files], check=True, stdout=subprocess.DEVNULL)
    return image


def write(path, data):
    path.write_bytes(data)
    return path


# What differs from run to run, and the command line only the command has.
RUN_FIELDS = ("started", "ended", "command_line")


def without_run_fields(records):
    return [{k: v for k, v in r.items() if k not in RUN_FIELDS} for r in records]


def command_records(image, *options, cwd=None):
    run = subprocess.run([BFSSCAN, "--json=-", *options, str(image)], cwd=cwd,
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=False)
    return without_run_fields([json.loads(line) for line in run.stdout.decode().splitlines()])


def tree(root):
    """Every file under root: relative path -> bytes."""
    found = {}
    for dirpath, _, names in os.walk(root):
        for name in names:
            path = os.path.join(dirpath, name)
            with open(path, "rb") as f:
                found[os.path.relpath(path, root)] = f.read()
    return found


def two_files(tmp):
    return mkbfs(tmp / "two.img", [write(tmp / "a.txt", b"hello\n"),
                                   write(tmp / "b.txt", b"world!\n")])


def nested(tmp):
    """A file system whose one file is an image holding another."""
    inner = mkbfs(tmp / "inner.img", [write(tmp / "c.txt", b"inside\n")])
    return mkbfs(tmp / "outer.img", [write(tmp / "d.txt", b"outside\n"), inner])


def two_in_a_row(tmp):
    image = mkbfs(tmp / "row.img", [write(tmp / "e.txt", b"first\n")])
    return mkbfs(image, [write(tmp / "f.txt", b"second\n")], at=65536)


def damaged(tmp):
    """The first file's extent points far past the end of the image."""
    image = two_files(tmp)
    with open(image, "r+b") as f:
        f.seek(0x23E + 2)  # the start block of inode 3, big-endian
        f.write(b"\x00\x10\x00\x00")
    return image


def missing(tmp):
    return tmp / "no-such.img"


IMAGES = {"two files": two_files, "nested": nested, "two in a row": two_in_a_row,
          "damaged": damaged, "missing": missing}


@pytest.mark.parametrize("name", IMAGES)
@pytest.mark.parametrize("keep_going", [False, True])
def test_records_equal_the_commands(tmp_path, name, keep_going):
    image = IMAGES[name](tmp_path)
    options = ["-n"] + (["-k"] if keep_going else [])
    expected = command_records(image, *options)
    assert without_run_fields(bfsscan.scan(str(image), keep_going=keep_going)) == expected
    assert expected[-1]["type"] == "end"


def test_end_record_and_version(tmp_path):
    records = list(bfsscan.scan(two_files(tmp_path)))
    end = without_run_fields(records)[-1]
    assert end == {"type": "end", "status": 0, "reached_end": True, "file_systems": 1,
                   "dry_run": True, "files_listed": 2, "files_skipped": 0, "files_lost": 0,
                   "bytes_listed": 13}
    assert records[0]["version"] == bfsscan.__version__
    version = subprocess.run([BFSSCAN, "--version"], stdout=subprocess.PIPE, check=True)
    assert version.stdout.decode() == "bfsscan " + bfsscan.__version__ + "\n"


def test_status_is_the_commands_exit_status(tmp_path):
    image = damaged(tmp_path)
    statuses = [list(bfsscan.scan(image, keep_going=k))[-1]["status"] for k in (False, True)]
    exits = [subprocess.run([BFSSCAN, "-n", *k, str(image)], stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL).returncode for k in ([], ["-k"])]
    assert statuses == exits == [3, 3]


@pytest.mark.parametrize("hashes, option", [
    (("sha256", "md5"), "--hash=sha256,md5"),
    ("md5", "--hash=md5"),  # one name as a string: that name, not its letters
])
def test_hashes(tmp_path, hashes, option):
    image = two_files(tmp_path)
    records = list(bfsscan.scan(image, hashes=hashes))
    assert without_run_fields(records) == command_records(image, "-n", option)
    if hashes == "md5":
        return
    files = [r for r in records if r["type"] == "file"]
    assert [f["sha256"] for f in files] == [hashlib.sha256(b"hello\n").hexdigest(),
                                            hashlib.sha256(b"world!\n").hexdigest()]


@pytest.mark.parametrize("arguments, message", [
    ({"format": "tape"}, "unknown image format 'tape'"),
    ({"hashes": ("sha256", "crc32")}, "not 'sha256,crc32'"),
])
def test_wrong_arguments(tmp_path, arguments, message):
    with pytest.raises(ValueError, match=message):
        bfsscan.scan(two_files(tmp_path), **arguments)


def test_extraction_equals_the_commands(tmp_path):
    image = nested(tmp_path)
    expected = command_records(image, "-C", str(tmp_path / "by-command"))
    got = without_run_fields(bfsscan.scan(image, extract_to=tmp_path / "by-module", preserve=True))
    assert got == command_records(image, "-p", "-C", str(tmp_path / "by-command-p"))
    assert got == expected
    assert tree(tmp_path / "by-module") == tree(tmp_path / "by-command")
    assert tree(tmp_path / "by-module")[os.path.join("outer-0", "d.txt")] == b"outside\n"


def many_files_and_a_large_one(tmp):
    """600 small files (1,200 records before the first extraction: far more
    than the module keeps queued for a reader that is behind), then 32 MiB."""
    files = [write(tmp / ("s%03d" % i), b"%d\n" % i) for i in range(600)]
    files.append(write(tmp / "large", os.urandom(1 << 16) * 512))
    return mkbfs(tmp / "many.img", files)


class Stop(Exception):
    pass


@pytest.mark.parametrize("stop", [KeyboardInterrupt, Stop, "close", "collect"])
def test_stop_from_the_consumer(tmp_path, stop):
    image = many_files_and_a_large_one(tmp_path)
    out = tmp_path / "out"
    records = bfsscan.scan(image, extract_to=out)
    first = next(records)
    assert first["type"] == "image"
    if stop == "close":
        records.close()
        assert list(records) == []
    elif stop == "collect":
        del records
    else:
        with pytest.raises(stop):
            with records:
                raise stop()
    # Stopped while the first records were read: nothing was extracted, and
    # no temporary file is left.
    assert tree(out) == {}


def test_stop_while_copying(tmp_path):
    """Stopped after the first file: whenever the stop comes, the copy of
    the large file is not left half done."""
    image = mkbfs(tmp_path / "big.img", [write(tmp_path / "small", b"small\n"),
                                         write(tmp_path / "large", os.urandom(1 << 16) * 512)])
    out = tmp_path / "out"
    with pytest.raises(KeyboardInterrupt):
        for record in bfsscan.scan(image, extract_to=out):
            if record["type"] == "file":
                raise KeyboardInterrupt
    files = tree(out)
    assert not [p for p in files if ".bfsscan-part-" in p]
    assert files[os.path.join("big-0", "small")] == b"small\n"
    large = files.get(os.path.join("big-0", "large"))
    assert large is None or large == (tmp_path / "large").read_bytes()


def test_two_threads(tmp_path):
    images = [two_files(tmp_path), nested(tmp_path)]
    expected = [command_records(i, "-n") for i in images]
    both_started = threading.Barrier(2, timeout=600)
    got = [None, None]

    def run(n):
        records = bfsscan.scan(images[n])
        first = next(records)
        both_started.wait()  # two scans under way at once
        got[n] = [first] + list(records)

    threads = [threading.Thread(target=run, args=(n,)) for n in (0, 1)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert [without_run_fields(g) for g in got] == expected
