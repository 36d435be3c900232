#!/usr/bin/env python3
"""Times bfsscan-batch on many small images (two files each), as
`bfsscan-batch -n --jobs 2`. Not a test.

Usage: bench/batch.py [IMAGES] [JOBS]   (default 1000 images, 2 workers)
Needs build/ (scripts/build.sh, with the Python module) and python3-distributed.
Prints the images per second over the whole command (the local cluster's start
and stop included) and over the scans alone (first start to last end in the
summary)."""

import datetime
import json
import os
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build")


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 1000
    jobs = sys.argv[2] if len(sys.argv) > 2 else "2"
    with tempfile.TemporaryDirectory(prefix="bfsscan-bench-") as work:
        for name, data in (("a.txt", b"hello\n"), ("b.txt", b"world!\n")):
            with open(os.path.join(work, name), "wb") as f:
                f.write(data)
        template = os.path.join(work, "template.img")
        subprocess.run([os.path.join(BUILD, "mkbfs"), template, os.path.join(work, "a.txt"),
                        os.path.join(work, "b.txt")], check=True, stdout=subprocess.DEVNULL)
        with open(template, "rb") as f:
            image = f.read()
        os.mkdir(os.path.join(work, "img"))
        lines = []
        for i in range(count):
            path = os.path.join(work, "img", "%05d.img" % i)
            with open(path, "wb") as f:
                f.write(image)
            lines.append(path)
        manifest = os.path.join(work, "manifest.txt")
        with open(manifest, "w") as f:
            f.write("\n".join(lines) + "\n")
        env = dict(os.environ, PYTHONPATH=os.path.join(BUILD, "python"))
        began = time.monotonic()
        run = subprocess.run([sys.executable, "-m", "bfsscan.batch", "-n", "--jobs", jobs,
                              "--out", os.path.join(work, "out"), manifest], env=env)
        whole = time.monotonic() - began
        with open(os.path.join(work, "out", "summary.jsonl")) as f:
            summary = [json.loads(line) for line in f]

        def at(text):
            return datetime.datetime.strptime(text, "%Y-%m-%dT%H:%M:%S.%fZ").timestamp()

        scans = max(at(s["end"]) for s in summary) - min(at(s["start"]) for s in summary)
        print("%d images, status %d, %d in the summary" % (count, run.returncode, len(summary)))
        print("whole command: %.2f s, %.0f images/s" % (whole, count / whole))
        print("scans (first start to last end): %.2f s, %.0f images/s" % (scans, count / scans))
        print("load average before the end: %.2f" % os.getloadavg()[0])


if __name__ == "__main__":
    main()
