#!/bin/sh
# Builds the folder-scan benchmark (Release), makes a tree of 100,000 files in 10,101
# folders once, and times "Add All File(s) In Folder" on the real window (offscreen)
# beside `find DIR -type f | wc -l` on the same tree, in the same run.
#   bench/scan_compare.sh             # 5 runs per measure
#   RUNS=9 bench/scan_compare.sh      # more runs
#   TREE=/dev/shm/tree bench/scan_compare.sh
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${BUILD_DIR:-$root/build-scan-bench}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPARVELLO_BUILD_TESTS=OFF \
    -DPARVELLO_BUILD_BENCH=ON >/dev/null
ninja -C "$build" -j2 scan_bench >/dev/null
exec "$build/bin/scan_bench" --tree "${TREE:-/var/tmp/parvello-scan-bench}" --runs "${RUNS:-5}"
