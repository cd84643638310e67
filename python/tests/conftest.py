import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.dirname(HERE))  # the package, when not installed

import random

JA = "日本語のテキスト。カタカナとひらがな、漢字 ABC xyz 123\r\n二行目\n"
# Subprocesses and Dask workers import the package the same way.
os.environ["PYTHONPATH"] = os.pathsep.join(
    p for p in (os.path.dirname(HERE), os.environ.get("PYTHONPATH")) if p)


def cuts(n, count=30, seed=1):
    """Every single cut near the start, then random sets of cuts."""
    rng = random.Random(seed)
    return [[k] for k in range(min(n, 32))] + [sorted(rng.sample(range(n), min(n, 8)))
                                              for _ in range(count)]


def pieces(seq, cut):
    return [seq[a:b] for a, b in zip([0] + cut, cut + [len(seq)])]
