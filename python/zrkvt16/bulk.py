"""Converts a directory tree on Dask, one task per file.

    python3 -m zrkvt16.bulk SRC DST --to UTF-8 [--from NAME] [--eol lf]
        [--errors strict|replace|ignore] [--bom] [--no-fsync]
        [--scheduler ADDRESS] [--workers N] [--report FILE] [--quiet]

Without --from each file's encoding is detected from its first megabyte and
checked against it. The output tree mirrors the input; each output file is
written beside its final name as ".NAME.zrkvt16-part" and renamed over it
only when complete (taking the mode of a file it replaces), so no reader
ever sees half a file, whatever happens to a worker. The report (CSV, by
default DST/.zrkvt16-report.csv) has one row per file; a later run skips
files whose size and modification time match a row that converted them with
the same options. Without --scheduler a LocalCluster runs on this machine.

Exit status: 0 every file converted (or unchanged), 1 some failed,
2 usage errors (unknown names, missing or overlapping directories).
"""

import argparse
import csv
import itertools
import os
import stat
import sys
import time

from .core import ConversionError, Converter

REPORT_NAME = ".zrkvt16-report.csv"
FIELDS = ["path", "encoding", "bytes_in", "bytes_out", "status", "error_offset", "message",
          "mtime_ns", "target"]
CHUNK = 1 << 20  # memory per task stays a few times this, whatever the file size
BLOCK = 2000     # tasks handed to the scheduler at a time


def part_name(path):
    head, tail = os.path.split(path)
    return os.path.join(head, "." + tail + ".zrkvt16-part")


def _row(rel, target, **fields):
    row = dict.fromkeys(FIELDS, "")
    row.update(path=rel, target=target, status="failed", bytes_in=0, bytes_out=0)
    row.update(fields)
    return row


def convert_file(src_root, dst_root, rel, opts):
    """The task: converts SRC/rel into DST/rel and returns its report row.
    Every failure is a row, never an exception, and removes the part file."""
    row = _row(rel, opts["target"], encoding=opts["from"] or "")
    src, dst = os.path.join(src_root, rel), os.path.join(dst_root, rel)
    try:
        fd = os.open(src, os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC)
    except FileNotFoundError:
        return dict(row, message="vanished before it could be read")
    except OSError as e:
        return dict(row, message="cannot open: %s" % e.strerror)
    conv, tmp = None, part_name(dst)
    try:
        with open(fd, "rb", buffering=0) as f:
            before = os.fstat(fd)
            row.update(bytes_in=before.st_size, mtime_ns=before.st_mtime_ns)
            if not stat.S_ISREG(before.st_mode):
                return dict(row, status="skipped", message="not a regular file")
            conv = Converter(opts["from"], opts["to"], opts["errors"], opts["eol"], opts["bom"])
            os.makedirs(os.path.dirname(dst), exist_ok=True)
            try:
                row["bytes_out"] = _write(f, conv, tmp, opts.get("fsync", True))
                after = os.fstat(fd)
                if (after.st_size, after.st_mtime_ns) != (before.st_size, before.st_mtime_ns):
                    raise ConversionError("the file changed while it was converted")
                _keep_mode(tmp, dst)
                os.replace(tmp, dst)
            except BaseException:
                _unlink(tmp)
                raise
        row["status"] = "converted"
    except ConversionError as e:
        hint = "; name it with --from" if e.kind == "undetected" else ""
        row.update(message=str(e) + hint, error_offset="" if e.offset is None else e.offset)
    except OSError as e:
        row["message"] = "%s: %s" % (e.filename or rel, e.strerror)
    if conv is not None and conv.source is not None:
        row["encoding"] = conv.source.name
        d = conv.detected
        if d is not None and d.corrected and row["status"] == "converted":
            row["message"] = "detected; the detector alone said %s" % d.detector
    return row


def _write(f, conv, tmp, sync):
    n = 0
    with open(tmp, "wb") as w:
        while True:
            data = f.read(CHUNK)
            if not data:
                break
            n += w.write(conv.feed(data))
        n += w.write(conv.finish())
        w.flush()
        if sync:
            os.fsync(w.fileno())
    return n


def _keep_mode(tmp, dst):
    try:
        st = os.stat(dst)
    except FileNotFoundError:
        return
    os.chmod(tmp, stat.S_IMODE(st.st_mode))
    try:
        os.chown(tmp, st.st_uid, st.st_gid)
    except PermissionError:
        pass


def _unlink(path):
    try:
        os.unlink(path)
    except FileNotFoundError:
        pass


# ---------------------------------------------------------------------------
# The driver


def _parse(argv):
    p = argparse.ArgumentParser(prog="python3 -m zrkvt16.bulk",
                                description="Convert a directory tree with libzrkvt16 on Dask.")
    p.add_argument("src")
    p.add_argument("dst")
    p.add_argument("--to", default="UTF-8", help="encoding of the output (default UTF-8)")
    p.add_argument("--from", dest="from_", help="encoding of the input (detected per file "
                   "when omitted)")
    p.add_argument("--eol", choices=["lf", "crlf", "cr", "u2028", "u2029"])
    p.add_argument("--errors", choices=["strict", "replace", "ignore"], default="strict")
    p.add_argument("--bom", action="store_true", help="write a byte order mark")
    p.add_argument("--no-fsync", dest="fsync", action="store_false",
                   help="rename outputs without waiting for them to reach the disk")
    p.add_argument("--scheduler", help="address of a running Dask scheduler")
    p.add_argument("--workers", type=int, help="LocalCluster worker processes")
    p.add_argument("--report", help="CSV report (default DST/%s)" % REPORT_NAME)
    p.add_argument("-q", "--quiet", action="store_true", help="no progress bar")
    return p.parse_args(argv)


def _walk(src, target):
    """Relative paths of the files under src, and rows for what cannot be listed."""
    files, rows = [], []

    def onerror(e):
        rel = os.path.relpath(e.filename, src)
        rows.append(_row(rel, target, message="cannot list the directory: %s" % e.strerror))

    for d, dirs, names in os.walk(src, onerror=onerror):
        dirs.sort()
        files.extend(os.path.relpath(os.path.join(d, n), src) for n in sorted(names))
    return files, rows


def _read_report(path):
    try:
        with open(path, newline="", encoding="utf-8") as f:
            return {r["path"]: r for r in csv.DictReader(f)}
    except (OSError, ValueError, KeyError, csv.Error):
        return {}


def _unchanged(prev, src, dst, rel, target):
    if prev is None or prev.get("status") not in ("converted", "unchanged"):
        return False
    try:
        st, out = os.stat(os.path.join(src, rel)), os.stat(os.path.join(dst, rel))
        return (prev["target"] == target and int(prev["bytes_in"]) == st.st_size
                and int(prev["mtime_ns"]) == st.st_mtime_ns
                and int(prev["bytes_out"]) == out.st_size)
    except (OSError, ValueError, KeyError):
        return False


def _write_report(path, rows):
    tmp = path + ".tmp"
    with open(tmp, "w", newline="", encoding="utf-8") as f:
        w = csv.DictWriter(f, FIELDS)
        w.writeheader()
        w.writerows(rows[k] for k in sorted(rows))
    os.replace(tmp, path)


def _inside(path, root):
    return path == root or path.startswith(root.rstrip(os.sep) + os.sep)


def _client(args):
    from dask.distributed import Client, LocalCluster
    if args.scheduler:
        return Client(args.scheduler), None
    cluster = LocalCluster(n_workers=args.workers or os.cpu_count(), threads_per_worker=1,
                           processes=True, dashboard_address=None)
    return Client(cluster), cluster


class _Bar:
    def __init__(self, total, enabled):
        self.total, self.done, self.failed, self.enabled = total, 0, 0, enabled

    def step(self, failed):
        self.done += 1
        self.failed += failed
        if self.enabled:
            fill = self.done * 40 // max(self.total, 1)
            sys.stderr.write("\r[%s%s] %d/%d files, %d failed" % (
                "#" * fill, "." * (40 - fill), self.done, self.total, self.failed))
            if self.done == self.total:
                sys.stderr.write("\n")
            sys.stderr.flush()


def main(argv=None, on_progress=None):
    """Runs the command; on_progress(done, total, client) is called after
    each file (tests use it to disturb a run)."""
    args = _parse(argv)
    err = lambda msg: (print("zrkvt16.bulk: " + msg, file=sys.stderr), 2)[1]  # noqa: E731
    try:  # names are checked before anything starts
        probe = Converter(args.from_, args.to, args.errors, args.eol, args.bom)
    except (ConversionError, ValueError) as e:
        return err(str(e))
    src, dst = os.path.realpath(args.src), os.path.realpath(args.dst)
    if not os.path.isdir(src):
        return err("%s: not a directory" % args.src)
    if _inside(dst, src) or _inside(src, dst):
        return err("the destination %s and the source %s must not lie inside each other"
                   % (args.dst, args.src))
    os.makedirs(dst, exist_ok=True)
    report = args.report or os.path.join(dst, REPORT_NAME)
    target = " ".join(x for x in [probe.target.name, args.eol and "eol=" + args.eol,
                                  args.errors != "strict" and "errors=" + args.errors,
                                  args.bom and "bom", args.from_ and "from=" + args.from_] if x)
    opts = {"from": args.from_, "to": args.to, "errors": args.errors, "eol": args.eol,
            "bom": args.bom, "target": target, "fsync": args.fsync}

    files, failed_dirs = _walk(src, target)
    previous = _read_report(report)
    rows = {r["path"]: r for r in failed_dirs}
    todo = []
    for rel in files:
        prev = previous.get(rel)
        if _unchanged(prev, src, dst, rel, target):
            rows[rel] = dict(prev, status="unchanged")
        else:
            todo.append(rel)
    bar = _Bar(len(todo), not args.quiet and sys.stderr.isatty())
    started = time.monotonic()
    try:
        if todo:
            _run(args, src, dst, todo, opts, rows, bar, on_progress)
    finally:
        _write_report(report, rows)
    counts = {}
    for r in rows.values():
        counts[r["status"]] = counts.get(r["status"], 0) + 1
    print("zrkvt16.bulk: %d files in %.1f s: %s; report %s" % (
        len(rows), time.monotonic() - started,
        ", ".join("%d %s" % (n, s) for s, n in sorted(counts.items())), report), file=sys.stderr)
    return 1 if counts.get("failed") else 0


def _run(args, src, dst, todo, opts, rows, bar, on_progress):
    from dask.distributed import as_completed
    client, cluster = _client(args)
    pending, queue, done = {}, iter(todo), as_completed()

    def submit():
        # Files go to the scheduler a block at a time, so millions of them
        # never sit there at once.
        block = list(itertools.islice(queue, BLOCK))
        if block:
            n = len(block)
            futures = client.map(convert_file, [src] * n, [dst] * n, block, [opts] * n,
                                 pure=False)
            pending.update((f.key, rel) for f, rel in zip(futures, block))
            done.update(futures)

    try:
        submit()
        submit()
        for batch in done.batches():
            status = {f.key: f.status for f in batch}
            finished = [f for f in batch if status[f.key] == "finished"]
            results = dict(zip((f.key for f in finished), client.gather(finished)))
            for f in batch:
                if status[f.key] not in ("finished", "error"):
                    # Its result went with a worker that died; Dask computes it again.
                    done.add(f)
                    continue
                rel = pending.pop(f.key)
                row = results.get(f.key)
                if row is None:  # the task itself failed: its worker died too often, ...
                    row = _row(rel, opts["target"], message="task failed: %r" % (f.exception(),))
                rows[rel] = row
                bar.step(row["status"] == "failed")
                if on_progress:
                    on_progress(bar.done, bar.total, client)
            if len(pending) < BLOCK:
                submit()
    finally:
        for rel in todo:
            rows.setdefault(rel, _row(rel, opts["target"], message="not converted: interrupted"))
        client.close()
        if cluster is not None:
            cluster.close()
        # A task whose worker died leaves its part file; none may survive the run.
        for rel, row in rows.items():
            if row["status"] != "converted":
                _unlink(part_name(os.path.join(dst, rel)))


if __name__ == "__main__":
    # Run under the package's name, so tasks refer to zrkvt16.bulk, which
    # the workers can import, rather than to __main__.
    from zrkvt16.bulk import main as _main
    sys.exit(_main())
