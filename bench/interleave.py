#!/usr/bin/env python3
"""Times whole commands in interleaved rounds: each round runs every command
once, in an order that rotates from round to round, so that a change in the
machine's load (a shared VM) falls on all of them alike. Writes the results
in hyperfine's JSON form (mean, stddev, median and per-run user and system
times), which bench/report.py reads.

usage: interleave.py OUT.json RUNS WARMUP NAME COMMAND [NAME COMMAND ...]
  COMMAND is split on white space; its output goes to /dev/null.
"""
import json
import os
import statistics
import subprocess
import sys
import time


def run_once(argv):
    start = time.perf_counter()
    proc = subprocess.Popen(argv, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        sys.exit("%s: exit %d" % (" ".join(argv), proc.returncode))
    return wall, usage.ru_utime, usage.ru_stime


def main():
    if len(sys.argv) < 6 or (len(sys.argv) - 4) % 2:
        sys.exit(__doc__)
    out, runs, warmup = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    pairs = sys.argv[4:]
    names, argvs = pairs[0::2], [c.split() for c in pairs[1::2]]
    times = [[] for _ in names]
    for round_no in range(warmup + runs):
        shift = round_no % len(names)
        for i in list(range(shift, len(names))) + list(range(shift)):
            t = run_once(argvs[i])
            if round_no >= warmup:
                times[i].append(t)
    results = []
    for name, argv, ts in zip(names, argvs, times):
        wall = [t[0] for t in ts]
        results.append({
            "command": " ".join(argv), "command_name": name,
            "mean": statistics.mean(wall), "median": statistics.median(wall),
            "stddev": statistics.stdev(wall) if len(wall) > 1 else 0.0,
            "min": min(wall), "max": max(wall), "times": wall,
            "user": [t[1] for t in ts], "system": [t[2] for t in ts],
        })
    with open(out, "w") as f:
        json.dump({"results": results}, f, indent=1)


if __name__ == "__main__":
    main()
