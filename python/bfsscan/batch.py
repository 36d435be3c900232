"""bfsscan-batch: the images of a manifest, each scanned as the bfsscan command
scans it, on a Dask cluster (a local one by default), into one folder per
image, a summary and a case database.

    bfsscan-batch [--out DIR] [--jobs N | --scheduler ADDRESS] [scan options] MANIFEST

Only this process writes DIR/summary.jsonl and DIR/case.sqlite; the workers
write the folders of their images and hand back the records. An image is in
the summary once it is in the database, so that a rerun skips exactly the
images already done and redoes the others from a clean folder.
"""

import argparse
import datetime
import hashlib
import json
import math
import os
import re
import shutil
import signal
import socket
import sys
import time

from . import _native

USAGE = ("bfsscan-batch [--out DIR] [--jobs N | --scheduler ADDRESS] [-k] [-n] [-p] "
         "[--deleted] [--unallocated] [--hash=ALG,...] [--max-output=SIZE] [--format=FORMAT] "
         "[--dfxml] [--map] MANIFEST")

# The statuses an image can end with, and so not be scanned again.
FINAL = (0, 2, 3)
# Names of the batch's own files in DIR, which no image id may take.
RESERVED = {"summary.jsonl", "case.sqlite", "case.sqlite-journal", "index.html"}
HASH_LENGTHS = {"md5": 32, "sha1": 40, "sha256": 64}
# The test hook: the worker that meets the image of this id first writes its
# process id into the file named after the colon and waits to be killed.
HOLD_HOOK = "BFSSCAN_BATCH_TEST_HOLD"


class UsageError(Exception):
    pass


class Interrupted(BaseException):
    """SIGINT or SIGTERM: not an Exception, which the engine's code may catch."""

    def __init__(self, signum):
        super().__init__(signum)
        self.signum = signum


class Parser(argparse.ArgumentParser):
    def error(self, message):
        raise UsageError(message)


def parse_size(text):
    m = re.fullmatch(r"([0-9]+)([KMGTkmgt]?)", text)
    if not m:
        raise UsageError("--max-output takes a size such as 500M, not '%s'" % text)
    return int(m.group(1)) << {"": 0, "k": 10, "m": 20, "g": 30, "t": 40}[m.group(2).lower()]


def parse_arguments(argv):
    p = Parser(prog="bfsscan-batch", usage=USAGE, add_help=True,
               description="Scans every image of MANIFEST as bfsscan does, on a Dask cluster.")
    from . import __version__
    p.add_argument("--version", action="version", version="bfsscan-batch " + __version__)
    p.add_argument("--out", default="bfsscan-batch", metavar="DIR")
    p.add_argument("--jobs", type=int, metavar="N")
    p.add_argument("--scheduler", metavar="ADDRESS")
    p.add_argument("--per-task", type=int, metavar="N")
    p.add_argument("-k", "--keep-going", action="store_true")
    p.add_argument("-n", "--dry-run", action="store_true")
    p.add_argument("-p", "--preserve", action="store_true")
    p.add_argument("--deleted", action="store_true")
    p.add_argument("--unallocated", action="store_true")
    p.add_argument("--hash", default="")
    p.add_argument("--max-output", type=str)
    p.add_argument("--format", default="auto")
    p.add_argument("--dfxml", action="store_true")
    p.add_argument("--map", action="store_true")
    p.add_argument("manifest", metavar="MANIFEST")
    a = p.parse_args(argv)
    if a.jobs is not None and a.scheduler is not None:
        raise UsageError("--jobs and --scheduler exclude each other")
    if a.jobs is not None and a.jobs < 1:
        raise UsageError("--jobs takes a number of workers, at least 1")
    if a.per_task is not None and a.per_task < 1:
        raise UsageError("--per-task takes a number of images, at least 1")
    a.hashes = [h for h in a.hash.split(",") if h] if a.hash else []
    if any(h not in HASH_LENGTHS for h in a.hashes) or len(set(a.hashes)) != len(a.hashes):
        raise UsageError("--hash takes md5, sha1 or sha256, comma-separated, not '%s'" % a.hash)
    a.max_output = None if a.max_output is None else parse_size(a.max_output)
    if not _native.known_format(a.format):
        raise UsageError("unknown image format '%s'" % a.format)
    return a


def _safe_id(text):
    """A name for a folder, made of text."""
    cleaned = re.sub(r"[^A-Za-z0-9._+-]", "_", text).lstrip(".")
    return cleaned or "image"


def _check_id(ident):
    if (not ident or ident in (".", "..") or ident.startswith(".") or "/" in ident
            or "\\" in ident or ident in RESERVED or len(ident.encode()) > 200
            or any(ord(c) < 32 or ord(c) == 127 for c in ident)):
        return False
    return True


def read_manifest(path):
    """The images of the manifest: dicts of path, id, expected ("ALG:HEX" or None).
    Raises UsageError naming the line of a bad one."""
    try:
        with open(path, "rb") as f:
            raw = f.read()
    except OSError as e:
        raise UsageError("cannot read %s: %s" % (path, e.strerror))
    entries = []
    for number, line in enumerate(raw.decode("utf-8", "surrogateescape").split("\n"), 1):
        line = line.rstrip("\r")
        if not line.strip() or line.lstrip().startswith("#"):
            continue
        where = "%s:%d: " % (path, number)
        fields = line.split("\t")
        if len(fields) > 3:
            raise UsageError(where + "more than three tab-separated fields")
        image = fields[0]
        ident = fields[1] if len(fields) > 1 and fields[1] else None
        expected = fields[2].strip() if len(fields) > 2 and fields[2].strip() else None
        if not image:
            raise UsageError(where + "no image path")
        if ident is not None and not _check_id(ident):
            raise UsageError(where + "'%s' cannot name a folder (no /, no leading dot, "
                             "no control characters, not a name of the batch's own)" % ident)
        if expected is not None:
            alg, _, hexdigits = expected.partition(":")
            alg = alg.lower()
            if (alg not in HASH_LENGTHS or len(hexdigits) != HASH_LENGTHS[alg]
                    or not re.fullmatch(r"[0-9A-Fa-f]+", hexdigits)):
                raise UsageError(where + "an expected hash is md5:HEX, sha1:HEX or sha256:HEX, "
                                 "not '%s'" % expected)
            expected = alg + ":" + hexdigits.lower()
        # Absolute, for workers on other machines or in other folders.
        entries.append({"line": number, "path": os.path.abspath(image), "id": ident,
                        "expected": expected, "given": image})
    given = {}
    for e in entries:
        if e["id"] is not None:
            if e["id"] in given:
                raise UsageError("%s:%d: the id '%s' is already on line %d"
                                 % (path, e["line"], e["id"], given[e["id"]]))
            given[e["id"]] = e["line"]
    # An image without an id is named after its file, or after its whole
    # path where two share a file name; the same on every run.
    names = {}
    for e in entries:
        if e["id"] is None:
            base = _safe_id(os.path.basename(e["given"].rstrip("/")))
            names[base] = names.get(base, 0) + 1
    taken = set(given)
    for e in entries:
        if e["id"] is not None:
            continue
        base = _safe_id(os.path.basename(e["given"].rstrip("/")))
        if names[base] > 1 or base in taken or base in RESERVED:
            base = _safe_id(os.path.normpath(e["given"]).strip("/").replace("/", "_"))
        ident, n = base, 1
        while ident in taken or ident in RESERVED:
            n += 1
            ident = "%s-%d" % (base, n)
        taken.add(ident)
        e["id"] = ident
    return entries


# ---- on a worker ------------------------------------------------------------

def _hold_for_test(ident):
    hook = os.environ.get(HOLD_HOOK, "")
    wanted, _, pid_file = hook.partition(":")
    if not hook or wanted != ident:
        return
    try:
        fd = os.open(pid_file, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644)
    except FileExistsError:
        return  # held once already: this is the retry
    os.write(fd, b"%d\n" % os.getpid())
    os.close(fd)
    for _ in range(600):  # until killed (a guard against a hang, not a clock)
        time.sleep(0.1)


def _worker_name():
    try:
        from distributed import get_worker
        return get_worker().address
    except Exception:  # not on a Dask worker
        return "%s:%d" % (socket.gethostname(), os.getpid())


def _file_digest(path, alg):
    h = hashlib.new(alg)
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def _iso(seconds):
    return datetime.datetime.fromtimestamp(seconds, datetime.timezone.utc).strftime(
        "%Y-%m-%dT%H:%M:%S.%fZ")


def _summary_fields(records):
    """Counts, media digests and EWF verification, from an image's records."""
    fields = {"file_systems": 0, "files": 0, "bytes": 0, "digests": {}, "ewf_verified": None}
    for line in records.splitlines():
        if not line.startswith(('{"type":"image"', '{"type":"end"')):
            continue  # only these two say anything of the whole image
        r = json.loads(line)
        kind = r["type"]
        for place in (r, r.get("media") if isinstance(r.get("media"), dict) else {}):
            for alg in HASH_LENGTHS:
                if isinstance(place.get(alg), str):
                    fields["digests"][alg] = place[alg]
        for place in (r, r.get("ewf") if isinstance(r.get("ewf"), dict) else {}):
            if isinstance(place.get("verified"), bool):
                fields["ewf_verified"] = place["verified"]
        if kind == "end":
            dry = r.get("dry_run", False)
            fields["file_systems"] += r.get("file_systems", 0)
            fields["files"] += r.get("files_listed" if dry else "files_extracted", 0)
            fields["bytes"] += r.get("bytes_listed" if dry else "bytes_written", 0)
    return fields


def _empty_folder(folder):
    try:
        os.mkdir(folder)
        return
    except FileExistsError:
        pass
    if os.path.isdir(folder) and not os.path.islink(folder):
        shutil.rmtree(folder)
    else:
        os.remove(folder)
    os.mkdir(folder)


def scan_one(job, settings, worker):
    """Scans one image into DIR/ID (emptied first); returns its summary line,
    with its records under "records"."""
    ident = job["id"]
    _hold_for_test(ident)
    folder = os.path.join(settings["out"], ident)
    start = time.time()
    _empty_folder(folder)
    error = None
    try:
        status, records = _native.run_image(
            job["path"], settings["format"], folder, ident + ".img", settings["dry_run"],
            settings["keep_going"], settings["preserve"], settings["unallocated"],
            settings["deleted"], settings["hashes"], settings["max_output"],
            settings["dfxml"], settings["map"])
    except Exception as e:  # the folder could not be written
        status, records, error = 2, "", str(e)
    line = {"id": ident, "path": job["path"], "status": status}
    if error is not None:
        line["error"] = error
    line.update(_summary_fields(records))
    line["expected"] = job["expected"]
    line["expected_matched"] = None
    if job["expected"]:
        alg, _, wanted = job["expected"].partition(":")
        digest = line["digests"].get(alg)
        if digest is None:
            try:
                digest = _file_digest(job["path"], alg)
                line["digests"][alg] = digest
            except OSError:
                digest = None
        line["expected_matched"] = None if digest is None else digest.lower() == wanted
    end = time.time()
    line.update({"start": _iso(start), "end": _iso(end), "seconds": round(end - start, 6),
                 "worker": worker, "records": records})
    return line


def scan_many(jobs, settings):
    """The task of a worker: several images one after another."""
    worker = _worker_name()
    return [scan_one(job, settings, worker) for job in jobs]


# ---- in the batch's own process --------------------------------------------

class Summary:
    """DIR/summary.jsonl: the lines of the images done, one each."""

    def __init__(self, path):
        self.path = path
        self.done = {}
        if os.path.exists(path):
            with open(path, "rb") as f:
                data = f.read()
            whole = data[:data.rfind(b"\n") + 1]  # a last line cut short is dropped
            if len(whole) != len(data):
                with open(path, "r+b") as f:
                    f.truncate(len(whole))
            for raw in whole.splitlines():
                try:
                    line = json.loads(raw)
                except ValueError:
                    continue
                if isinstance(line, dict) and line.get("status") in FINAL:
                    self.done[line.get("id")] = line
        self.file = open(path, "ab")

    def add(self, lines):
        for line in lines:
            self.file.write(json.dumps(line, ensure_ascii=False).encode("utf-8", "surrogateescape")
                            + b"\n")
            self.done[line["id"]] = line
        self.file.flush()

    def close(self):
        self.file.close()


class Progress:
    """Images done of total, rate and failures, on standard error when it is
    a terminal; nothing otherwise."""

    def __init__(self, total):
        self.shown = sys.stderr.isatty()
        self.total = total
        self.done = 0
        self.failed = 0
        self.began = time.monotonic()

    def add(self, lines):
        self.done += len(lines)
        self.failed += sum(1 for line in lines if line["status"] != 0)
        if self.shown:
            rate = self.done / max(time.monotonic() - self.began, 1e-6)
            sys.stderr.write("\r%d/%d images, %.1f/s, %d failed\x1b[K"
                             % (self.done, self.total, rate, self.failed))
            sys.stderr.flush()

    def clear(self):
        if self.shown and self.done:
            sys.stderr.write("\r\x1b[K")
            sys.stderr.flush()


def _start_client(args):
    import logging

    from distributed import Client, LocalCluster
    if args.scheduler:
        return Client(args.scheduler), None
    workers = args.jobs or os.cpu_count() or 1
    # Workers forked from a server that has Dask loaded start in a fraction
    # of the time that spawned ones take (each loading it anew), and fork
    # nothing of this process's threads.
    import dask
    dask.config.set({"distributed.worker.multiprocessing-method": "forkserver"})
    cluster = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                           dashboard_address=None, silence_logs=logging.ERROR)
    return Client(cluster), cluster


def _failed_line(job, why):
    now = time.time()
    return {"id": job["id"], "path": job["path"], "status": 2, "error": why, "file_systems": 0,
            "files": 0, "bytes": 0, "digests": {}, "ewf_verified": None,
            "expected": job["expected"], "expected_matched": None, "start": _iso(now),
            "end": _iso(now), "seconds": 0.0, "worker": None, "records": ""}


def _store(lines, database, summary, progress):
    """The images of a finished task into the database (one transaction),
    then into the summary."""
    try:
        for line in lines:
            database.add(line["id"], line["path"], line.pop("records"))
        database.commit()
    except BaseException:
        database.rollback()
        raise
    summary.add(lines)
    progress.add(lines)


def after_summary(out, summary):
    """Called once the summary holds every image of the manifest: writes
    OUT/index.html, a row per image linking its page OUT/ID/report.html."""
    from .html_index import write_index

    rows = []
    for line in summary.done.values():
        verified = line.get("ewf_verified")
        rows.append({
            "id": line.get("id"), "status": line.get("status"),
            "file_systems": line.get("file_systems", ""), "files": line.get("files", ""),
            "verification": "" if verified is None else
            ("EWF set verified" if verified else "EWF set NOT verified"),
            "duration": line.get("seconds"),
        })
    write_index(str(out), rows)


def _run(args, jobs, out, summary, database):
    from distributed import as_completed
    from distributed.scheduler import KilledWorker

    pending = [job for job in jobs if job["id"] not in summary.done]
    progress = Progress(len(pending))
    if not pending:
        return
    settings = {"out": out, "format": args.format, "dry_run": args.dry_run,
                "keep_going": args.keep_going, "preserve": args.preserve,
                "unallocated": args.unallocated, "deleted": args.deleted,
                "hashes": args.hashes, "max_output": args.max_output, "dfxml": args.dfxml,
                "map": args.map}
    client, cluster = _start_client(args)
    futures = {}
    try:
        workers = max(1, len(client.scheduler_info().get("workers", {})) or (args.jobs or 1))
        per_task = args.per_task or max(1, min(64, math.ceil(len(pending) / (workers * 4))))
        for i in range(0, len(pending), per_task):
            chunk = pending[i:i + per_task]
            futures[client.submit(scan_many, chunk, settings, pure=False)] = chunk
        queue = as_completed(list(futures))
        for future in queue:
            chunk = futures.pop(future)
            try:
                lines = future.result()
            except KilledWorker:
                if len(chunk) > 1:  # one of them kills workers: each on its own
                    for job in chunk:
                        f = client.submit(scan_many, [job], settings, pure=False)
                        futures[f] = [job]
                        queue.add(f)
                    continue
                lines = [_failed_line(chunk[0], "the workers that ran it died")]
            except Exception as e:
                lines = [_failed_line(job, "%s: %s" % (type(e).__name__, e)) for job in chunk]
            _store(lines, database, summary, progress)
    finally:
        progress.clear()
        for future in futures:
            future.cancel()
        client.close()
        if cluster is not None:
            cluster.close()



def main(argv=None):
    def stop(signum, frame):
        raise Interrupted(signum)

    try:
        args = parse_arguments(sys.argv[1:] if argv is None else argv)
        jobs = read_manifest(args.manifest)
    except UsageError as e:
        sys.stderr.write("bfsscan-batch: %s\nusage: %s\n" % (e, USAGE))
        return 1
    try:
        import distributed  # noqa: F401
    except ImportError:
        sys.stderr.write("bfsscan-batch: needs Dask distributed (Debian: python3-distributed)\n")
        return 2
    out = os.path.abspath(args.out)
    os.makedirs(out, exist_ok=True)
    previous = {signal.SIGINT: signal.signal(signal.SIGINT, stop),
                signal.SIGTERM: signal.signal(signal.SIGTERM, stop)}
    summary = Summary(os.path.join(out, "summary.jsonl"))
    database = None
    try:
        database = _native.CaseDatabase(os.path.join(out, "case.sqlite"))
        _run(args, jobs, out, summary, database)
    except Interrupted as e:
        done = sum(1 for job in jobs if job["id"] in summary.done)
        sys.stderr.write("bfsscan-batch: interrupted with %d of %d images done; the same "
                         "command goes on from there\n" % (done, len(jobs)))
        return 128 + e.signum
    except OSError as e:
        sys.stderr.write("bfsscan-batch: %s\n" % e)
        return 2
    finally:
        for signum, handler in previous.items():
            signal.signal(signum, handler)
        summary.close()
        database = None
    after_summary(out, summary)
    worst = 0
    for job in jobs:
        line = summary.done.get(job["id"], {"status": 2})
        worst = max(worst, line["status"])
        if line.get("expected_matched") is False:
            sys.stderr.write("bfsscan-batch: %s: the image's %s is not the one expected\n"
                             % (job["id"], job["expected"].partition(":")[0]))
            worst = max(worst, 2)
    return worst


if __name__ == "__main__":
    sys.exit(main())
