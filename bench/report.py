#!/usr/bin/env python3
"""Prints the benchmark results as Markdown tables for the README.

usage: report.py BENCH_JSON [HYPERFINE_JSON SIZE_BYTES]...
"""
import json
import sys


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


def conversions(rates):
    pairs = []
    for name in rates:
        tool, _, pair = name.partition("/")
        if tool == "zrkvt16" and not pair.startswith("detect") and pair not in pairs:
            pairs.append(pair)
    print("| Conversion | zrkvt16 MB/s | iconv MB/s | ICU MB/s | zrkvt16 / faster peer |")
    print("|---|---:|---:|---:|---:|")
    for pair in pairs:
        zk = rates.get("zrkvt16/" + pair, (0,))[0]
        ic = rates.get("iconv/" + pair, (0,))[0]
        icu = rates.get("icu/" + pair, (0,))[0]
        best = max(ic, icu)
        ratio = "%.2f" % (zk / best) if best else "n/a"
        print("| %s | %.1f | %.1f | %.1f | %s |" % (pair.replace("->", " → "), zk, ic, icu, ratio))


def detection(rates, labels):
    print("| Detection (4 KiB of) | zrkvt16 µs/call (answer) | ICU ucsdet µs/call (answer) | zrkvt16 / ICU speed |")
    print("|---|---:|---:|---:|")
    for name in rates:
        tool, _, what = name.partition("/")
        if tool != "zrkvt16" or not what.startswith("detect "):
            continue
        enc = what[len("detect "):]
        zk = rates[name]
        icu = rates.get("icu/" + what)
        scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3}
        zk_us = zk[1] * scale[zk[2]]
        icu_us = icu[1] * scale[icu[2]] if icu else 0
        print("| %s | %.1f (%s) | %.1f (%s) | %.1f× |" % (
            enc, zk_us, labels.get(name, "?"), icu_us, labels.get("icu/" + what, "?"),
            icu_us / zk_us if zk_us else 0))


def processes(path, size):
    data = json.load(open(path))
    results = data["results"]
    cpu = lambda r: r.get("user", 0) + r.get("system", 0) or r["mean"]
    fastest = min(cpu(r) for r in results)
    print("| Command (%.1f MB input) | wall s (mean ± sd) | CPU s (user+sys) | MB/s per CPU second | relative (CPU) |" % (size / 1e6))
    print("|---|---:|---:|---:|---:|")
    for r in results:
        print("| `%s` | %.3f ± %.3f | %.3f | %.1f | %.2f |" % (
            r.get("command_name") or r["command"], r["mean"], r.get("stddev") or 0,
            cpu(r), size / 1e6 / cpu(r), cpu(r) / fastest))


def main():
    context, rates, labels = load_bench(sys.argv[1])
    print("Machine: %d × %.0f MHz CPU, %s; %s" % (
        context.get("num_cpus", 0), context.get("mhz_per_cpu", 0),
        context.get("host_name", "?"), context.get("date", "?")))
    print()
    conversions(rates)
    print()
    detection(rates, labels)
    rest = sys.argv[2:]
    for i in range(0, len(rest) - 1, 2):
        print()
        processes(rest[i], int(rest[i + 1]))


main()
