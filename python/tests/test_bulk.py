import csv
import errno
import os
import signal
import subprocess
import sys
import threading
import time

import pytest
from dask.distributed import Client, LocalCluster

from conftest import JA
from zrkvt16 import bulk

ENCODINGS = ["utf-8", "cp932", "euc_jp", "iso2022_jp", "utf-16"]


@pytest.fixture(scope="module")
def cluster():
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                      dashboard_address=None) as c:
        yield c


def make_tree(root, n=300, big=None):
    """Files in mixed encodings and what each becomes; junk and a dead link."""
    want = {}
    for i in range(n):
        rel = "d%d/e%d/f%03d.txt" % (i % 7, i % 3, i)
        text = JA * (2 + i % 13) + str(i)
        os.makedirs(os.path.dirname(root / rel), exist_ok=True)
        (root / rel).write_bytes(text.encode(ENCODINGS[i % len(ENCODINGS)]))
        want[rel] = text.encode()
    if big:
        (root / big).write_bytes((JA * 300000).encode("cp932"))
        want[big] = (JA * 300000).encode()
    (root / "junk.bin").write_bytes(b"\x00\x81\xfe" * 3)
    os.symlink("nowhere", root / "gone.txt")
    return want


def check(dst, want, changed=()):
    with open(dst / bulk.REPORT_NAME, newline="") as f:
        rows = {r["path"]: r for r in csv.DictReader(f)}
    assert set(rows) == set(want) | {"junk.bin", "gone.txt"}
    for rel, data in want.items():
        assert rows[rel]["status"] == ("unchanged" if changed and rel not in changed
                                       else "converted"), rows[rel]
        assert (dst / rel).read_bytes() == data and int(rows[rel]["bytes_out"]) == len(data)
    assert "cannot detect" in rows["junk.bin"]["message"]
    assert rows["gone.txt"]["message"] == "vanished before it could be read"
    assert not [n for _, _, names in os.walk(dst) for n in names if n.endswith("-part")]
    return rows


def test_bulk_run_and_a_second_run(tmp_path, cluster):
    src, dst = tmp_path / "src", tmp_path / "dst"
    want = make_tree(src)
    r = subprocess.run([sys.executable, "-m", "zrkvt16.bulk", str(src), str(dst), "--to",
                        "UTF-8", "--workers", "2"], capture_output=True, text=True)
    assert r.returncode == 1, r.stderr
    rows = check(dst, want)
    assert {rows[r]["encoding"] for r in want} == {"UTF-8", "WINDOWS31J", "EUC-JP",
                                                   "ISO-2022-JP", "UTF-16"}
    # Only what changed is converted again; a replaced file keeps its mode.
    (src / "d0/e0/f000.txt").write_bytes(b"new")
    os.chmod(dst / "d0/e0/f000.txt", 0o600)
    want["d0/e0/f000.txt"] = b"new"
    argv = [str(src), str(dst), "--scheduler", cluster.scheduler_address, "-q", "--no-fsync"]
    assert bulk.main(argv) == 1
    check(dst, want, changed={"d0/e0/f000.txt"})
    assert os.stat(dst / "d0/e0/f000.txt").st_mode & 0o777 == 0o600


def test_a_worker_killed_midway(tmp_path, cluster):
    src, dst = tmp_path / "src", tmp_path / "dst"
    want = make_tree(src, 150, big="d3/big.txt")
    with Client(cluster) as client:
        pids = list(client.run(os.getpid).values())
    part, killed = os.path.realpath(bulk.part_name(str(dst / "d3/big.txt"))), []

    def kill_the_writer():  # SIGKILL the worker while it writes the big file
        end = time.monotonic() + 60
        while not killed and time.monotonic() < end:
            for pid in pids:
                fds = "/proc/%d/fd" % pid
                try:
                    if part in (os.readlink(os.path.join(fds, fd)) for fd in os.listdir(fds)):
                        os.kill(pid, signal.SIGKILL)
                        killed.append(pid)
                except OSError:
                    pass
            time.sleep(0.002)

    t = threading.Thread(target=kill_the_writer)
    t.start()
    argv = [str(src), str(dst), "--scheduler", cluster.scheduler_address, "-q", "--no-fsync"]
    assert bulk.main(argv) == 1
    t.join()
    assert killed
    check(dst, want)


def test_failures_leave_nothing_half_written(tmp_path, monkeypatch):
    src, dst = tmp_path / "src", tmp_path / "dst"
    for d in (src, dst):
        d.mkdir()
    (src / "a.txt").write_bytes(JA.encode("cp932"))
    (dst / "a.txt").write_bytes(b"old")
    opts = {"from": None, "to": "UTF-8", "errors": "strict", "eol": None, "bom": False,
            "target": "UTF-8"}

    def full(fd):
        raise OSError(errno.ENOSPC, os.strerror(errno.ENOSPC))
    monkeypatch.setattr(os, "fsync", full)
    row = bulk.convert_file(str(src), str(dst), "a.txt", opts)
    monkeypatch.undo()
    assert row["status"] == "failed" and "No space left on device" in row["message"]
    row = bulk.convert_file(str(src), str(dst), "a.txt", dict(opts, **{"from": "UTF-8"}))
    assert (row["status"], row["error_offset"]) == ("failed", 0)
    assert "invalid UTF-8 at byte offset 0" in row["message"]
    assert os.listdir(dst) == ["a.txt"] and (dst / "a.txt").read_bytes() == b"old"
    for argv in ([src, src / "out"], [src / "out", src], [src, dst, "--to", "NOPE"],
                 [tmp_path / "none", dst]):
        assert bulk.main([str(a) for a in argv]) == 2
