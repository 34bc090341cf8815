#!/bin/sh
# Builds parvello-cli (Release), makes the corpus once, then compares parvello-cli with
# GNU sed, perl, cp, iconv and a plain Python script. The corpus and the scratch outputs
# live on tmpfs (/dev/shm) unless BENCH_DIR says otherwise; the small files are measured a
# second time on the ordinary disk under DISK_DIR.
#   bench/compare.sh            # everything, 5 runs per measure
#   RUNS=9 bench/compare.sh     # more runs
#   BEFORE=/path/to/parvello-cli bench/compare.sh   # an earlier build measured alongside
#   SMALL_ONLY=1 bench/compare.sh   # only the small files: tmpfs, DISK_DIR and (as root) a
#                                   # fresh ext4 image loop-mounted beside DISK_DIR
# The large files are also compared in place with --check, shown beside --out.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${BUILD_DIR:-$root/build-bench}
bench=${BENCH_DIR:-/dev/shm/parvello-bench}
disk=${DISK_DIR:-/var/tmp/parvello-bench-disk}

for tool in cmake ninja python3 sed perl iconv; do
    command -v "$tool" >/dev/null || { echo "compare.sh: $tool is missing" >&2; exit 1; }
done
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPARVELLO_BUILD_TESTS=OFF \
    -DPARVELLO_BUILD_BENCH=ON >/dev/null
# The build's progress is not shown, its failures are.
if ! built=$(ninja -C "$build" parvello-cli prepass_bench 2>&1); then
    echo "$built" >&2
    exit 1
fi
if [ ! -f "$bench/corpus/.complete" ]; then
    echo "Making the corpus in $bench/corpus ..."
    rm -rf "$bench/corpus"
    python3 "$here/make_corpus.py" "$bench/corpus"
    touch "$bench/corpus/.complete"
fi
# --diff on the 256 MiB file: every line ends in LF, so every line is in the diff.
/usr/bin/time -f "Peak memory of --diff on the 256 MiB file: %M KiB (%e s)" \
    "$build/bin/parvello-cli" --rule remove-double --diff "$bench/corpus/huge/huge.txt" >/dev/null
exec python3 "$here/compare.py" --cli "$build/bin/parvello-cli" --corpus "$bench/corpus" \
    --work "$bench/work" --disk-work "$disk" --runs "${RUNS:-5}" ${BEFORE:+--before "$BEFORE"} \
    --prepass "$build/bin/prepass_bench" ${SMALL_ONLY:+--small-only}
