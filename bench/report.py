#!/usr/bin/env python3
"""Prints the results of bench/run.sh as Markdown tables for the README.

usage: report.py WORK_DIR
"""
import glob
import json
import os
import sys

work = sys.argv[1]


def load_bench(path):
    data = json.load(open(path))
    rates, labels = {}, {}
    for b in data["benchmarks"]:
        name = b.get("run_name", b["name"])
        if b.get("label"):
            labels[name] = b["label"]
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        if "bytes_per_second" in b:
            rates[name] = (b["bytes_per_second"] / 1e6, b["cpu_time"], b.get("time_unit", "ns"))
    return data["context"], rates, labels


def in_process(rates):
    shapes = {"kanji": "mostly kana and kanji", "prose": "prose, 20-50% ASCII",
              "ascii": "ASCII only", "kanji+eol": "kana and kanji, line ends to CR LF"}
    print("| Conversion | text | zrkvt16 MB/s | iconv MB/s | ICU MB/s | zrkvt16 / faster peer |")
    print("|---|---|---:|---:|---:|---:|")
    pairs = []
    for name in rates:
        tool, _, rest = name.partition("/")
        shape, _, pair = rest.partition("/")
        if tool == "zrkvt16" and pair and pair not in pairs:
            pairs.append(pair)
    for pair in pairs:
        for shape in shapes:
            zk = rates.get("zrkvt16/%s/%s" % (shape, pair))
            if not zk:
                continue
            peer = shape.replace("+eol", "")
            ic = rates.get("iconv/%s/%s" % (peer, pair), (0,))[0]
            icu = rates.get("icu/%s/%s" % (peer, pair), (0,))[0]
            best = max(ic, icu)
            ratio = "%.2f" % (zk[0] / best) if best else "n/a"
            print("| %s | %s | %.0f | %.0f | %.0f | %s |" % (
                pair.replace("->", " → "), shapes[shape], zk[0], ic, icu, ratio))


def detection(rates, labels):
    print("| Detection (4 KiB of) | zrkvt16 µs/call (answer) | ICU ucsdet µs/call (answer) | zrkvt16 / ICU speed |")
    print("|---|---:|---:|---:|")
    scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3}
    for name in rates:
        tool, _, what = name.partition("/")
        if tool != "zrkvt16" or not what.startswith("detect "):
            continue
        zk = rates[name]
        icu = rates.get("icu/" + what)
        zk_us = zk[1] * scale[zk[2]]
        icu_us = icu[1] * scale[icu[2]] if icu else 0
        print("| %s | %.1f (%s) | %.1f (%s) | %.1f× |" % (
            what[len("detect "):], zk_us, labels.get(name, "?"), icu_us,
            labels.get("icu/" + what, "?"), icu_us / zk_us if zk_us else 0))


def median(r):
    return r.get("median") or r["mean"]


# The fastest of the interleaved runs: on a shared machine other work only
# ever adds time, so the minimum is the steadiest figure.
def best(r):
    return r.get("min") or median(r)


def processes():
    print("| Conversion (file) | kvtconv s | iconv s | uconv s | kvtconv / faster peer | (medians) | kvtconv peak RSS |")
    print("|---|---:|---:|---:|---:|---:|---:|")
    files = sorted(glob.glob(os.path.join(work, "proc-[0-9]*.json")),
                   key=lambda p: int(p.rsplit("-", 1)[1].split(".")[0]))
    for path in files:
        results = json.load(open(path))["results"]
        kvt, ic, uc = (best(r) for r in results)
        mk, mi, mu = (median(r) for r in results)
        name = (results[0].get("command_name") or results[0]["command"]).split()
        n = path.rsplit("-", 1)[1].split(".")[0]
        mem = open(os.path.join(work, "mem-%s.txt" % n)).read().split()[-1]
        print("| %s → %s (%.1f MB) | %.3f | %.3f | %.3f | %.2f | %.2f | %.1f MB |" % (
            name[2], name[4], os.path.getsize(os.path.join(work, name[5])) / 1e6,
            kvt, ic, uc, kvt / min(ic, uc), mk / min(mi, mu), int(mem) / 1024))


def startup():
    results = json.load(open(os.path.join(work, "proc-start.json")))["results"]
    print("| Command (3-byte file) | wall ms (best) | wall ms (median) | wall ms (mean ± sd) |")
    print("|---|---:|---:|---:|")
    for r in results:
        print("| `%s` | %.2f | %.2f | %.2f ± %.2f |" % (
            r.get("command_name") or r["command"], best(r) * 1e3, median(r) * 1e3, r["mean"] * 1e3,
            (r.get("stddev") or 0) * 1e3))
    floor = os.path.join(work, "floor.txt")
    if os.path.exists(floor):
        runs = [line.split() for line in open(floor) if line.strip()]
        us = sorted(float(r[0]) for r in runs)
        print()
        print("Reading the %s definition and compiled-table files alone (%d bytes), in a fresh "
              "process: %.2f ms best, %.2f ms median of %d." % (
                  runs[0][1], int(runs[0][2]), us[0] / 1e3, us[len(us) // 2] / 1e3, len(us)))


def main():
    context, rates, labels = load_bench(os.path.join(work, "bench.json"))
    print("Machine: %d × %.0f MHz CPU, %s; %s" % (
        context.get("num_cpus", 0), context.get("mhz_per_cpu", 0),
        context.get("host_name", "?"), context.get("date", "?")))
    print()
    processes()
    print()
    pipe = os.path.join(work, "mem-pipe.txt")
    if os.path.exists(pipe):
        print("Peak RSS of kvtconv converting 500 MB from a pipe: %.1f MB" %
              (int(open(pipe).read().split()[-1]) / 1024))
        print()
    startup()
    print()
    in_process(rates)
    print()
    detection(rates, labels)


main()
