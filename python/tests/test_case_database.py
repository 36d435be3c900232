"""bfsscan --sqlite: the case database holds the records --json writes, once
per image however often it is added, as the module's writer writes them."""

import json
import sqlite3
import subprocess
import tarfile

import pytest

from bfsscan import _native
from test_scan import BFSSCAN, IMAGES, nested, two_files
from case_records import database_records


def archive(tmp):
    """A tar of two images: two images of one evidence."""
    images = [two_files(tmp), nested(tmp)]
    with tarfile.open(tmp / "two.tar", "w") as tar:
        for image in images:
            tar.add(image, arcname=image.name)
    return tmp / "two.tar"


CASES = dict(IMAGES, archive=archive)


@pytest.mark.parametrize("name", CASES)
def test_sqlite_holds_the_json_records(tmp_path, name):
    image = CASES[name](tmp_path)
    db_path = tmp_path / "case.sqlite"
    options = ["-n", "--hash=sha256", "--deleted", "--unallocated", "--sqlite=" + str(db_path)]
    for _ in range(2):  # added again: replaced
        run = subprocess.run([BFSSCAN, "--json=-", *options, str(image)],
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    lines = run.stdout.decode().splitlines()
    records = [json.loads(line) for line in lines]
    db = sqlite3.connect(db_path)
    ids = [i for (i,) in db.execute("SELECT image_id FROM images ORDER BY rowid")]
    starts = [n for n, r in enumerate(records) if r["type"] == "image"] or [0]
    sections = [records[a:b] for a, b in zip(starts, starts[1:] + [len(records)])]
    members = ["two.img", "outer.img"] if name == "archive" else [None]
    assert ids == [str(image) + (":" + m if m else "") for m in members]
    for image_id, section in zip(ids, sections):
        got = database_records(db, image_id)
        if section[0]["type"] != "image":  # not opened: no image record
            assert got[0] is None
            got = got[1:]
        assert got == section
    assert db.execute("SELECT status FROM images").fetchall()[-1] == (run.returncode,)
    # The module's writer gives the same rows.
    _native.case_add(str(tmp_path / "module.sqlite"), str(image), str(image),
                     "".join(line + "\n" for line in lines))
    module = sqlite3.connect(tmp_path / "module.sqlite")
    for (table,) in db.execute("SELECT name FROM sqlite_master WHERE type = 'table'"):
        query = 'SELECT * FROM "%s" ORDER BY image_id, rowid' % table
        assert db.execute(query).fetchall() == module.execute(query).fetchall(), table


def test_sqlite_usage(tmp_path):
    image = two_files(tmp_path)
    for option, message in [("--sqlite=-", "--sqlite needs a file"),
                            ("--sqlite=" + str(image), "")]:
        run = subprocess.run([BFSSCAN, "-n", option, str(image)], stdout=subprocess.DEVNULL,
                             stderr=subprocess.PIPE)
        assert run.returncode == 1 and message in run.stderr.decode(), option
