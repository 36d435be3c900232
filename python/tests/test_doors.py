"""Every door reads what the command reads: one image of two file systems
(one nested in the other) wrapped in every way the command reads, and for
each the module's records are the command's, the C++ example lists the same
files, and bfsmount serves the tree that extraction writes. Then the inputs
every door must refuse or take as empty alike."""

import json
import os
import shutil
import subprocess
import threading

import pytest

import bfsscan

BFSSCAN = os.environ["BFSSCAN_BIN"]
MKBFS = os.environ["MKBFS_BIN"]
LIST_FILES = os.environ.get("LIST_FILES_BIN")
BFSMOUNT = os.environ.get("BFSMOUNT_BIN")

# label, shell command making W from disk.img (in the work directory), the
# argument every door is given ("-": W on standard input through a pipe),
# the tools it needs
WRAPPINGS = [
    ("raw", "cp disk.img W", "W", []),
    ("E01", "ewfacquire -u -q -c none -S 1MiB -t disk disk.img >/dev/null", "disk.E01",
     ["ewfacquire"]),
    ("QCOW2", "qemu-img convert -f raw -O qcow2 disk.img W", "W.qcow2", ["qemu-img"]),
    ("gzip", "gzip -c disk.img > W", "W.gz", ["gzip"]),
    ("xz", "xz -c disk.img > W", "W.xz", ["xz"]),
    ("zstd", "zstd -q -c disk.img -o W", "W.zst", ["zstd"]),
    ("bzip2", "bzip2 -c disk.img > W", "W.bz2", ["bzip2"]),
    ("zip of two members", "mkdir -p t && cp inner.img t/disk.img && zip -q W disk.img t/disk.img",
     "W.zip", ["zip"]),
    ("tar.gz", "tar czf W disk.img", "W.tar.gz", ["tar", "gzip"]),
    ("standard input", "cp disk.img W", "-", []),
]


def the_image(work):
    """disk.img: a file system holding another one's image as a file."""
    (work / "c.txt").write_bytes(b"inside\n")
    (work / "d.txt").write_bytes(b"outside\n" * 100)
    subprocess.run([MKBFS, str(work / "inner.img"), str(work / "c.txt")], check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run([MKBFS, str(work / "disk.img"), str(work / "d.txt"),
                    str(work / "inner.img")], check=True, stdout=subprocess.DEVNULL)


def run(argv, work, stdin_file=None, cwd=None):
    stdin = open(work / stdin_file, "rb") if stdin_file else subprocess.DEVNULL
    try:
        if stdin_file:  # through a pipe, not as a file
            cat = subprocess.Popen(["cat"], stdin=stdin, stdout=subprocess.PIPE)
            done = subprocess.run(argv, stdin=cat.stdout, capture_output=True, cwd=cwd or work)
            cat.stdout.close()
            cat.wait()
            return done
        return subprocess.run(argv, stdin=stdin, capture_output=True, cwd=cwd or work)
    finally:
        if stdin_file:
            stdin.close()


def records(lines):
    found = [json.loads(line) for line in lines]
    for r in found:
        if r["type"] == "image":
            r.pop("path"), r.pop("path_hex")
        for field in ("started", "ended", "command_line"):  # of the run, not the image
            r.pop(field, None)
    return found


def listing(recs):
    """What list_files prints for these records."""
    out = ""
    for r in recs:
        if r["type"] == "fs":
            out += "file system at byte %d, %d bytes\n" % (r["offset"], r["end"] + 1)
        elif r["type"] == "file" and r["status"] == "listed":
            out += "  %s: %d bytes at byte %d\n" % (r["name"], r["length"], r["image_offset"])
    return out


def tree(root):
    found = {}
    for dirpath, dirs, names in os.walk(root):
        for d in dirs:
            found[os.path.relpath(os.path.join(dirpath, d), root) + "/"] = b""
        for name in names:
            with open(os.path.join(dirpath, name), "rb") as f:
                found[os.path.relpath(os.path.join(dirpath, name), root)] = f.read()
    return found


def mounted(work, arg, stdin_file):
    """bfsmount's status, standard error and tree (None when not mounted);
    pytest.skip where this machine does not let a test mount."""
    if not BFSMOUNT or not os.access("/dev/fuse", os.R_OK | os.W_OK):
        pytest.skip("no bfsmount or /dev/fuse here")
    point = work / "mnt"
    point.mkdir(exist_ok=True)
    done = run([BFSMOUNT, arg, str(point)], work, stdin_file)
    err = done.stderr.decode()
    if done.returncode == 2 and "cannot mount" in err:
        pytest.skip("mounting is not permitted here: " + err)
    if done.returncode != 0:
        return done.returncode, err, None
    try:
        return 0, err, tree(point)
    finally:
        subprocess.run(["fusermount3", "-u", str(point)], check=False)


def make(work, command, tools):
    for t in tools:
        if shutil.which(t) is None:
            pytest.skip(t + " is not installed")
    subprocess.run(["/bin/sh", "-c", command], cwd=work, check=True)


@pytest.mark.parametrize("label,command,arg,tools", WRAPPINGS, ids=[w[0] for w in WRAPPINGS])
def test_every_door_reads_every_wrapping(tmp_path, label, command, arg, tools):
    the_image(tmp_path)
    wrapped = arg.replace("W", "wrapped")
    make(tmp_path, command.replace("W", wrapped if arg != "-" else "wrapped"), tools)
    stdin_file = "wrapped" if arg == "-" else None

    command_run = run([BFSSCAN, "-n", "--json=-", wrapped], tmp_path, stdin_file)
    expected = records(command_run.stdout.decode().splitlines())
    assert expected[-1]["status"] == 0 and expected[-1]["file_systems"] >= 1, label
    assert sum(r["type"] == "fs" for r in expected) == (3 if "two" in label else 2)

    if stdin_file:
        with open(tmp_path / stdin_file, "rb") as f:
            module = [r for r in bfsscan.scan(f)]
    else:
        module = list(bfsscan.scan(str(tmp_path / wrapped)))
    assert records(json.dumps(r) for r in module) == expected

    if LIST_FILES:
        listed = run([LIST_FILES, wrapped], tmp_path, stdin_file)
        assert (listed.returncode, listed.stdout.decode()) == (0, listing(expected))

    out = tmp_path / "extracted"
    out.mkdir()
    extracted = run([BFSSCAN, "-k", "-C", str(out), wrapped], tmp_path, stdin_file)
    assert extracted.returncode == 0
    status, err, served = mounted(tmp_path, wrapped, stdin_file)
    assert (status, err) == (0, "")
    assert served == tree(out)


# label, shell command making the input, the command's status and standard
# error, bfsmount's standard error (status 2, nothing mounted)
REFUSED_OR_EMPTY = [
    ("a QCOW2 with a backing file, compressed",
     "qemu-img create -q -f qcow2 base.qcow2 1M && "
     "qemu-img create -q -f qcow2 -b base.qcow2 -F qcow2 over.qcow2 && gzip -c over.qcow2 > in",
     2, "error reading in: a disk with a backing file is not supported (the backing file is "
     "not read)\n", "error reading in: a disk with a backing file is not supported (the "
     "backing file is not read)\nbfsmount: no file system found in in; nothing mounted\n"),
    ("an empty image, xz-compressed", "xz -c < /dev/null > in", 0, "",
     "bfsmount: no file system found in in; nothing mounted\n"),
    ("an image without a file system", "head -c 65536 /dev/zero > in", 0, "",
     "bfsmount: no file system found in in; nothing mounted\n"),
]


@pytest.mark.parametrize("label,command,status,err,mount_err", REFUSED_OR_EMPTY,
                         ids=[r[0] for r in REFUSED_OR_EMPTY])
def test_every_door_refuses_or_takes_as_empty_alike(tmp_path, monkeypatch, label, command,
                                                    status, err, mount_err):
    make(tmp_path, command, ["qemu-img", "gzip", "xz"])
    done = run([BFSSCAN, "-n", "in"], tmp_path)
    assert (done.returncode, done.stderr.decode()) == (status, err)
    monkeypatch.chdir(tmp_path)
    module = list(bfsscan.scan("in"))
    assert module[-1]["status"] == status
    assert [r["text"] + "\n" for r in module if r["type"] == "problem"] == (
        [err] if err else [])
    if LIST_FILES:
        listed = run([LIST_FILES, "in"], tmp_path)
        assert (listed.returncode, listed.stdout, listed.stderr.decode()) == (status, b"", err)
    assert mounted(tmp_path, "in", None) == (2, mount_err, None)


class Endless:
    """A file object that never ends, counting the reads made of it."""

    def __init__(self):
        self.reads = 0

    def read(self, n):
        self.reads += 1
        return b"\0" * n


class Stalled(Endless):
    """One that waits for bytes that come only once it is released."""

    def __init__(self):
        super().__init__()
        self.release = threading.Event()

    def read(self, n):
        self.reads += 1
        self.release.wait()
        return b"\0" * n


@pytest.mark.parametrize("source,records", [(Endless, 0), (Endless, 1), (Stalled, 0)],
                         ids=["endless, closed at once", "endless, after a record", "stalled"])
def test_a_stream_abandoned_midway_ends_its_scan(source, records):
    # close() returns (a hang here is the failure), and the feeder ends.
    source = source()
    scan = bfsscan.scan(source, max_image=1 << 24)
    if records:  # the limit met: the problem comes before the image
        assert next(scan)["text"].endswith("(--max-image); the rest was not read")
    scan.close()
    if isinstance(source, Stalled):
        source.release.set()
    scan._feeder.join(60)
    assert not scan._feeder.is_alive() and source.reads >= 1
