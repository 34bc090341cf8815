#!/usr/bin/env python3
"""Two builds of parvello-cli on the large files of the corpus, run in turn: one run of each,
RUNS times, --jobs 1; prints the medians and after/before per family. On a shared machine
this tells a small change of speed from the drift that separate series of runs show.
  python3 bench/interleave.py BEFORE_CLI AFTER_CLI /dev/shm/parvello-bench/corpus/big [RUNS]
"""
import glob
import os
import shutil
import statistics
import subprocess
import sys
import time

before, after, corpus = sys.argv[1:4]
runs = int(sys.argv[4]) if len(sys.argv) > 4 else 21
work = os.environ.get("BENCH_WORK", "/dev/shm/parvello-interleave")
for family in sorted(os.listdir(corpus)):
    sources = sorted(glob.glob(os.path.join(corpus, family, "*")))
    if not sources:
        continue
    times = {"before": [], "after": []}
    for _ in range(runs):
        for name, cli in (("before", before), ("after", after)):
            out = os.path.join(work, name)
            shutil.rmtree(out, ignore_errors=True)
            os.makedirs(out)
            start = time.perf_counter()
            subprocess.run([cli, "--jobs", "1", "--rule", "remove-double", "--out", out] + sources,
                           check=True)
            times[name].append(time.perf_counter() - start)
    b, a = statistics.median(times["before"]), statistics.median(times["after"])
    print(f"{family:10s} before {b * 1000:6.1f} ms  after {a * 1000:6.1f} ms  after/before {a / b:.3f}",
          flush=True)
shutil.rmtree(work, ignore_errors=True)
