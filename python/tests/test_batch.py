"""bfsscan-batch on a local cluster of two workers: its summary and case
database against single runs of the command, a rerun, a worker killed
mid-run, and SIGINT then resume."""

import gzip
import json
import os
import re
import signal
import sqlite3
import subprocess
import sys
import time
from urllib.parse import quote

import pytest

from case_records import database_records
from test_scan import BFSSCAN, damaged, mkbfs, write

distributed = pytest.importorskip(
    "distributed", reason="python3-distributed is not installed: bfsscan-batch is not tested")

OPTIONS = ["--hash=sha256", "--deleted"]
WRONG_MD5 = "md5:" + "0" * 32


def make_case(tmp):
    """30 images and their manifest: a .gz, a damaged one, two of one file
    name in two folders (no ids), one with a wrong expected hash, one with a
    right one; the others with ids."""
    (tmp / "img").mkdir()
    lines = []
    for i in range(30):
        src = tmp / ("f%02d" % i)
        src.mkdir()
        files = [write(src / "passwd", b"root:%d\n" % i), write(src / ("n%02d.txt" % i), b"%d\n" % i)]
        image = mkbfs(tmp / "img" / ("i%02d.img" % i), files)
        if i == 0:
            gz = tmp / "img" / "i00.img.gz"
            gz.write_bytes(gzip.compress(image.read_bytes()))
            lines.append("%s\tzipped" % gz)
        elif i == 1:
            lines.append("%s\tbroken" % damaged(tmp / ("f%02d" % i)))
        elif i in (2, 3):
            folder = tmp / ("folder%d" % i)
            folder.mkdir()
            image.rename(folder / "disk.img")
            lines.append(str(folder / "disk.img"))
        elif i == 4:
            lines.append("%s\twrong-hash\t%s" % (image, WRONG_MD5))
        elif i == 5:
            import hashlib
            lines.append("%s\tright-hash\tsha256:%s"
                         % (image, hashlib.sha256(image.read_bytes()).hexdigest()))
        else:
            lines.append("%s\tev%02d" % (image, i))
    manifest = tmp / "manifest.txt"
    manifest.write_text("# the case\n" + "\n".join(lines) + "\n")
    return manifest, [line.split("\t")[0] for line in lines]


def batch(tmp, manifest, *extra, env=None, wait=True):
    args = [sys.executable, "-m", "bfsscan.batch", "--out", str(tmp / "out"), "--jobs", "2",
            *OPTIONS, *extra, str(manifest)]
    run = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                           env=dict(os.environ, **(env or {})))
    if not wait:
        return run
    out, err = run.communicate(timeout=900)
    return run.returncode, err.decode()


def summary(tmp):
    with open(tmp / "out" / "summary.jsonl") as f:
        return [json.loads(line) for line in f]


def by_id(lines):
    ids = [line["id"] for line in lines]
    assert len(ids) == len(set(ids)), "an image twice in the summary"
    return {line["id"]: line for line in lines}


def stemless(record):
    """The record with the stem of extraction paths taken out (the batch
    names them after the id, the command after the file)."""
    r = dict(record)
    for field in ("started", "ended", "command_line"):  # of the run, not the image
        r.pop(field, None)
    if r["type"] != "image" and "path" in r and r["path"] is not None:
        r["path"] = re.sub(r"^[^/]*-([0-9]+)/", r"STEM-\1/", r["path"])
        r["path_hex"] = r["path"].encode("utf-8", "surrogateescape").hex()
    return r


def check_case(tmp, paths):
    """Every image of the manifest once in the summary and the database,
    each as a single run of the command gives it."""
    lines = by_id(summary(tmp))
    assert sorted(line["path"] for line in lines.values()) == sorted(paths)
    db = sqlite3.connect(tmp / "out" / "case.sqlite")
    assert db.execute("SELECT count(*), count(DISTINCT evidence_id) FROM images").fetchone() \
        == (30, 30)
    index = (tmp / "out" / "index.html").read_text()
    assert all('href="./%s/report.html"' % quote(ident) in index for ident in lines), index
    assert all((tmp / "out" / ident / "report.html").is_file() for ident in lines)
    worst = 0
    (tmp / "cmd").mkdir(exist_ok=True)
    for ident, line in lines.items():
        run = subprocess.run([BFSSCAN, "--json=-", *OPTIONS, "-C", str(tmp / "cmd" / ident),
                              line["path"]], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        expected = [json.loads(r) for r in run.stdout.decode().splitlines()]
        with open(tmp / "out" / ident / "records.jsonl") as f:
            got = [json.loads(r) for r in f]
        assert [stemless(r) for r in got] == [stemless(r) for r in expected], ident
        assert database_records(db, ident) == got, ident
        end = expected[-1]
        assert (line["status"], line["file_systems"], line["files"], line["bytes"]) == (
            run.returncode, end["file_systems"], end["files_extracted"], end["bytes_written"])
        assert line["expected_matched"] == {"wrong-hash": False, "right-hash": True}.get(ident)
        worst = max(worst, run.returncode)
    assert worst == 3  # the damaged image
    assert lines["broken"]["status"] == 3 and lines["zipped"]["files"] == 2
    assert len([i for i in lines if i.endswith("disk.img")]) == 2
    # The README's query: every image with a file named passwd, deleted or not.
    assert db.execute("SELECT count(DISTINCT image_id) FROM files WHERE name = 'passwd'"
                      ).fetchone() == (29,)  # all but the damaged one
    return lines


@pytest.fixture(scope="module")
def done_case(tmp_path_factory):
    tmp = tmp_path_factory.mktemp("case")
    manifest, paths = make_case(tmp)
    status, err = batch(tmp, manifest)
    return tmp, manifest, paths, status, err


def test_case_equals_single_runs(done_case):
    tmp, manifest, paths, status, err = done_case
    assert status == 3, err
    assert "wrong-hash: the image's md5 is not the one expected" in err
    lines = check_case(tmp, paths)
    # A rerun skips everything: nothing is scanned again.
    folder = tmp / "out" / "ev10"
    before = (folder.stat().st_mtime_ns, (tmp / "out" / "summary.jsonl").read_bytes())
    assert batch(tmp, manifest) == (3, err)
    assert (folder.stat().st_mtime_ns, (tmp / "out" / "summary.jsonl").read_bytes()) == before
    assert set(lines) == set(by_id(summary(tmp)))


def wait_for(path, run):
    for _ in range(6000):  # a guard against a hang, not a clock
        if path.exists() and path.read_text().endswith("\n"):
            return int(path.read_text())
        assert run.poll() is None, run.communicate()
        time.sleep(0.1)
    raise AssertionError("the held image was never started")


@pytest.mark.parametrize("stop", ["kill the worker", "SIGINT then resume"])
def test_stopped_runs_give_every_image_once(tmp_path, stop):
    manifest, paths = make_case(tmp_path)
    held = tmp_path / "held.pid"
    run = batch(tmp_path, manifest, "--per-task", "1",
                env={"BFSSCAN_BATCH_TEST_HOLD": "ev20:%s" % held}, wait=False)
    worker = wait_for(held, run)
    if stop == "kill the worker":
        os.kill(worker, signal.SIGKILL)
        _, err = run.communicate(timeout=900)
        assert run.returncode == 3, err
        assert by_id(summary(tmp_path))["ev20"]["worker"]
    else:
        run.send_signal(signal.SIGINT)
        _, err = run.communicate(timeout=900)
        assert run.returncode == 130, err
        assert b"the same command goes on from there" in err
        assert "ev20" not in by_id(summary(tmp_path))  # valid lines, none twice
        assert batch(tmp_path, manifest)[0] == 3
    check_case(tmp_path, paths)


@pytest.mark.parametrize("manifest, message", [
    ("a.img\tid\tmd5:123\n", "manifest.txt:1: an expected hash is"),
    ("# c\na.img\tx\nb.img\tx\n", "manifest.txt:3: the id 'x' is already on line 2"),
    ("a.img\t../up\n", "manifest.txt:1: '../up' cannot name a folder"),
    ("\tid\n", "manifest.txt:1: no image path"),
])
def test_bad_manifest(tmp_path, manifest, message):
    (tmp_path / "manifest.txt").write_text(manifest)
    status, err = batch(tmp_path, tmp_path / "manifest.txt")
    assert (status, message in err) == (1, True), err
