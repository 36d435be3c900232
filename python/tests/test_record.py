"""The record of a run through the module: name= sets the stem, as --name."""

import os
import subprocess

import pytest

import bfsscan

MKBFS = os.environ["MKBFS_BIN"]


def test_name_sets_the_stem(tmp_path):
    (tmp_path / "n").write_bytes(b"data\n")
    image = tmp_path / "disk.img"
    subprocess.run([MKBFS, str(image), str(tmp_path / "n")], check=True, stdout=subprocess.DEVNULL)
    records = list(bfsscan.scan(image, extract_to=tmp_path / "out", name="case-7"))
    assert records[0]["name"] == "case-7"
    assert records[0]["path"] == str(image)
    assert (tmp_path / "out" / "case-7-0" / "n").read_bytes() == b"data\n"
    with pytest.raises(ValueError, match="name must name a directory"):
        bfsscan.scan(image, name="a/b")
